// Romsmith's starts: the automatic run from a command line and each of its
// ends with its own exit code, the one-copy rule and a folder without a
// usable network library.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "core/port_journal.h"
#include "core/spooler_journal.h"

#include "romsmith/exit_codes.h"
#include "romsmith/resource.h"
#include "romsmith_session.h"
#include "tests/json_check.h"
#include "tests/win/damaged_settings.h"
#include "tests/win/sim_client.h"

namespace {

using gui::LastError;

enum class AutoEnd {
  kWritten, kDeclined, kRejected, kFailed, kEmptyList, kClosedWhileWriting, kWrittenLeftOnFile, kKilledWhileWriting
};

// How the run is started.
enum class AutoStart { kPath, kQuotedPath, kHiddenWithoutPath };

struct AutoRun {
  const char* name;
  bool updateMode;
  const wchar_t* kind;
  std::vector<int> lanList;
  const wchar_t* fileName;
  AutoEnd end;
  int exitCode;
  const char* outcome;  // of the run report; null: no report
  AutoStart start = AutoStart::kPath;
  size_t bytes = 150 * 1024;
  int refusal = 20;  // kRejected: the message, with the expected extension
  const wchar_t* stuck = nullptr;  // a fake spooler printer put back only after `stuckTimes` failed tries
  int stuckTimes = 0;
  int parallel = 0;  // [LAN_SEND] Parallel (0: no key)
};
void PrintTo(const AutoRun& flow, std::ostream* out) { *out << flow.name; }

class RomsmithAutomatic : public ::testing::TestWithParam<AutoRun> {};

TEST_P(RomsmithAutomatic, EndsByItselfWithItsCode) {
  const AutoRun& run = GetParam();
  ASSERT_TRUE(ResetSimulator());
  const bool killed = run.end == AutoEnd::kKilledWhileWriting;
  if (run.end == AutoEnd::kClosedWhileWriting || killed) {
    // A run killed before this one may leave bytes on their way to the
    // printer; they must not count as this run's.
    std::string last, now = SimCommand(SimHost(2) + " count");
    while (now != last) {
      last = now;
      Sleep(300);
      now = SimCommand(SimHost(2) + " count");
    }
    ASSERT_TRUE(ResetSimulator());
    // A printer that reads slowly keeps the write going while the window closes.
    ASSERT_EQ(SimCommand(SimHost(2) + " set fault slow"), "OK");
    ASSERT_EQ(SimCommand(SimHost(2) + " set arg " + (killed ? "200000" : "50000")), "OK");
    // A small window and a file beyond the socket buffers keep the sender at the printer's pace.
    ASSERT_EQ(SimCommand(SimHost(2) + " set rcvbuf " + (killed ? "4096" : "0")), "OK");
  }
  RomsmithSession s(L"auto");
  ClearReports();
  RomsmithSetup setup;
  setup.updateMode = run.updateMode;
  setup.kind = run.kind;
  setup.lanPrinters = run.lanList;
  setup.firmwareName = run.fileName;
  setup.nameInSettings = false;  // the command line names it
  setup.firmwareBytes = run.bytes;
  if (run.end == AutoEnd::kWrittenLeftOnFile) setup.stuckPrinter = L"Receipt COM";
  if (run.stuck != nullptr) setup.stuckPrinter = run.stuck;
  setup.stuckTimes = run.stuckTimes;
  if (run.parallel != 0) setup.extra.push_back({L"LAN_SEND", L"Parallel", std::to_wstring(run.parallel)});
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  switch (run.start) {
    case AutoStart::kPath: ASSERT_TRUE(s.Start(s.FirmwarePath())) << LastError(); break;
    case AutoStart::kQuotedPath: ASSERT_TRUE(s.Start(L"\"" + s.FirmwarePath() + L"\"")) << LastError(); break;
    case AutoStart::kHiddenWithoutPath: ASSERT_TRUE(s.Start(L"", false, SW_HIDE)) << LastError(); break;
  }

  switch (run.end) {
    case AutoEnd::kWritten: {
      ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
      HWND progress = s.WaitProgressDialog();
      ASSERT_NE(progress, nullptr);
      ASSERT_TRUE(s.ConfirmClosingMessages(progress)) << LastError();
      std::string why;
      EXPECT_TRUE(s.ReceivedFirmware(run.lanList.empty() ? 0 : run.lanList[0], &why)) << why;
      break;
    }
    case AutoEnd::kDeclined:
      ASSERT_TRUE(s.Confirm(IDCANCEL)) << LastError();
      break;
    case AutoEnd::kRejected:
      ASSERT_TRUE(gui::Answer(s.pid(), Message(run.refusal, kEnglish, {run.updateMode ? L".hx*" : L".hex"}), IDOK))
          << LastError();
      EXPECT_EQ(SimCommand("com count"), "OK 0") << "the printer received a refused file";
      break;
    case AutoEnd::kWrittenLeftOnFile: {
      // The firmware went out whole: the operator learns which printer
      // still prints to a file, then the closing messages come as always.
      ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
      HWND progress = s.WaitProgressDialog();
      ASSERT_NE(progress, nullptr);
      const std::u16string left = PortJournalLeftMessage(kEnglish, {u"Receipt COM"});
      gui::MessageBoxSeen box;
      ASSERT_TRUE(gui::Answer(s.pid(), std::wstring(left.begin(), left.end()), IDOK, &box)) << LastError();
      EXPECT_EQ(box.owner, progress);
      ASSERT_TRUE(s.ConfirmClosingMessages(progress)) << LastError();
      std::string why;
      EXPECT_TRUE(s.ReceivedFirmware(0, &why)) << why;
      break;
    }
    case AutoEnd::kFailed: {
      ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
      ASSERT_TRUE(gui::Answer(s.pid(), Message(19, kEnglish), IDOK)) << LastError();
      break;
    }
    case AutoEnd::kClosedWhileWriting: {
      ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
      HWND progress = s.WaitProgressDialog();
      ASSERT_NE(progress, nullptr);
      ASSERT_TRUE(gui::WaitUntil([&] { return SimCommand(SimHost(2) + " count") != "OK 0"; }));
      // As the system closes a window it shuts down: the program itself is busy.
      PostMessageW(GetWindow(progress, GW_OWNER), WM_CLOSE, 0, 0);
      break;
    }
    case AutoEnd::kKilledWhileWriting: {
      ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
      HWND progress = s.WaitProgressDialog();
      ASSERT_NE(progress, nullptr);
      // Beyond the first chunk: the port has taken some of the file.
      ASSERT_EQ(SimCommand(SimHost(2) + " wait_count 65537 20000").rfind("OK", 0), 0u);
      // A log-off asks first: the report is saved as it stands.
      DWORD_PTR allowed = 0;
      ASSERT_TRUE(SendMessageTimeoutW(GetWindow(progress, GW_OWNER), WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                      &allowed));
      std::string json, text;
      ASSERT_TRUE(LatestRunReport(&json, &text)) << "no report while writing";
      EXPECT_EQ(json_check::Values(json, "result")[0], "interrupted") << json;
      EXPECT_NE(json_check::Values(json, "bytes_sent")[0], "0") << json;
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, s.pid());
      ASSERT_TRUE(process != nullptr && TerminateProcess(process, kExitInterrupted)) << GetLastError();
      CloseHandle(process);
      break;
    }
    case AutoEnd::kEmptyList: {
      gui::MessageBoxSeen box;
      ASSERT_TRUE(gui::WaitMessageBox(s.pid(), &box)) << LastError();
      EXPECT_FALSE(box.text.empty());
      ASSERT_TRUE(gui::PressBoxButton(box, IDOK)) << LastError();
      break;
    }
  }
  DWORD code = 99;
  ASSERT_TRUE(s.program.WaitExit(&code)) << "the automatic run did not end by itself";
  EXPECT_EQ(code, static_cast<DWORD>(run.exitCode));
  // A run that reached its printers' list leaves a report with its exit code.
  std::string json, text;
  const bool reported = LatestRunReport(&json, &text);
  EXPECT_EQ(reported, run.outcome != nullptr);
  if (reported) {
    EXPECT_TRUE(json_check::ValidJson(json)) << json;
    EXPECT_EQ(json_check::Values(json, "outcome")[0], run.outcome ? run.outcome : "");
    EXPECT_EQ(json_check::Values(json, "exit_code")[0], std::to_string(run.exitCode));
    const char* result = run.end == AutoEnd::kDeclined ? "not_attempted"
                         : run.end == AutoEnd::kFailed ? "failed"
                         : killed                      ? "interrupted"
                                                       : "written";
    EXPECT_EQ(json_check::Values(json, "result"), std::vector<std::string>{result});
    EXPECT_EQ(json_check::Values(json, "left_on_file")[0],
              run.end == AutoEnd::kWrittenLeftOnFile ? "[\"Receipt COM\"]" : "[]");
  }
  int switches = 0;
  std::string why;
  if (killed) {
    // Its printer stays on "FILE:" for the next start's repair, which this prefix must not see.
    DeleteFileW(SpoolerJournalPath().c_str());
    return;
  }
  if (run.end != AutoEnd::kWrittenLeftOnFile) {
    EXPECT_TRUE(s.SpoolerRestored(&switches, &why)) << why;
    return;
  }
  // The printer stays on "FILE:" and in the journal for the next start's repair.
  EXPECT_FALSE(s.SpoolerRestored(&switches, &why));
  EXPECT_NE(why.find("Receipt COM\tFILE:"), std::string::npos) << why;
  std::ifstream in(SpoolerJournalPath().c_str(), std::ios::binary);
  const std::string journal((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const PortJournalContents kept = ParsePortJournal(reinterpret_cast<const uint8_t*>(journal.data()), journal.size());
  ASSERT_EQ(kept.entries.size(), 1u) << journal;
  EXPECT_TRUE(kept.entries[0].printerName == u"Receipt COM" && kept.entries[0].portList == u"COM5:") << journal;
  DeleteFileW(SpoolerJournalPath().c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RomsmithAutomatic,
    ::testing::Values(
        AutoRun{"GoodFileWrites", false, L"COM", {}, L"fw.hex", AutoEnd::kWritten, kExitWritten, "written"},
        AutoRun{"WrongExtension", false, L"COM", {}, L"fw.hx1", AutoEnd::kRejected, kExitFileRejected, nullptr},
        AutoRun{"CancelEnds", true, L"LAN", {2}, L"fw.hx1", AutoEnd::kDeclined, kExitDeclined, "declined"},
        AutoRun{"FailedWrite", true, L"LAN", {9}, L"fw.hx2", AutoEnd::kFailed, kExitWriteFailed, "failed"},
        AutoRun{"EmptyLanList", true, L"LAN", {}, L"fw.hx1", AutoEnd::kEmptyList, kExitNoLanPrinters, nullptr},
        AutoRun{"ClosedWhileWriting", true, L"LAN", {2}, L"fw.hx1", AutoEnd::kClosedWhileWriting, kExitInterrupted,
                "interrupted"},
        // Side by side, the close waits for the workers as it waits for a one-by-one write.
        AutoRun{"ClosedWhileWritingSideBySide", true, L"LAN", {2}, L"fw.hx1", AutoEnd::kClosedWhileWriting,
                kExitInterrupted, "interrupted", AutoStart::kPath, 150 * 1024, 20, nullptr, 0, 2},
        AutoRun{"QuotedPathWithSpace", false, L"COM", {}, L"new fw.hex", AutoEnd::kWritten, kExitWritten, "written",
                AutoStart::kQuotedPath},
        AutoRun{"EmptyFile", false, L"COM", {}, L"fw.hex", AutoEnd::kRejected, kExitFileRejected, nullptr,
                AutoStart::kPath, 0, 18},
        AutoRun{"HiddenStartWithoutPath", false, L"COM", {}, L"fw.hex", AutoEnd::kRejected, kExitFileRejected, nullptr,
                AutoStart::kHiddenWithoutPath},
        AutoRun{"GiveBackFailsAfterWrite", false, L"COM", {}, L"fw.hex", AutoEnd::kWrittenLeftOnFile,
                kExitWrittenPrinterLeftOnFile, "written"},
        // Only the read after the write puts the printer back: no box, no code 7.
        AutoRun{"GiveBackLaterSucceeds", true, L"LAN", {3}, L"fw.hx1", AutoEnd::kWritten, kExitWritten, "written",
                AutoStart::kPath, 150 * 1024, 20, L"Receipt 3", 2},
        // Killed (with the code of an interrupted run) as a printer is half written.
        AutoRun{"KilledWhileWriting", false, L"LAN", {2}, L"fw.hex", AutoEnd::kKilledWhileWriting, kExitInterrupted,
                "interrupted", AutoStart::kPath, 4 << 20},
        // Side by side the report is saved every so often; a session's end
        // between two saves still finds the printer as far as it has come.
        AutoRun{"KilledWhileWritingSideBySide", false, L"LAN", {2}, L"fw.hex", AutoEnd::kKilledWhileWriting,
                kExitInterrupted, "interrupted", AutoStart::kPath, 4 << 20, 20, nullptr, 0, 2}),
    FlowName());

TEST(RomsmithStart, SecondCopyShowsMessage15AndLeavesOne) {
  RomsmithSession first(L"first");
  RomsmithSetup setup;
  ASSERT_TRUE(first.Prepare(setup)) << LastError();
  ASSERT_TRUE(first.Start()) << LastError();

  gui::Program second;
  ASSERT_TRUE(second.Start(first.folder / L"Romsmith.exe")) << LastError();
  gui::MessageBoxSeen box;
  ASSERT_TRUE(gui::Answer(second.pid(), Message(15, kEnglish), IDOK, &box)) << LastError();
  EXPECT_EQ(box.owner, nullptr) << "message 15 has no owner window";
  DWORD code = 99;
  ASSERT_TRUE(second.WaitExit(&code)) << LastError();
  EXPECT_EQ(code, 0u) << "a start without a command line ends with 0";
  EXPECT_TRUE(first.program.Running());
  EXPECT_EQ(gui::TopWindows(0, L"Romsmith", L"Romsmith").size(), 1u) << "not exactly one main window";
  EXPECT_EQ(GetForegroundWindow(), first.main) << "the running copy was not brought forward";

  ASSERT_TRUE(gui::Click(first.main, IDC_EXIT)) << LastError();
  EXPECT_TRUE(first.program.WaitExit(&code)) << LastError();
}

TEST(RomsmithStart, NoNetworkLibraryShowsMessage16) {
  RomsmithSession s(L"nolib");
  RomsmithSetup setup;
  setup.lanquay = false;
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.Start(L"", false)) << LastError();
  gui::MessageBoxSeen box;
  ASSERT_TRUE(gui::Answer(s.pid(), Message(16, kEnglish), IDOK, &box)) << LastError();
  EXPECT_EQ(box.owner, nullptr);
  DWORD code = 99;
  ASSERT_TRUE(s.program.WaitExit(&code)) << LastError();
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(gui::TopWindows(s.pid(), L"Romsmith", nullptr, true).empty());
}

// A run killed mid-exchange left two printers on "FILE:"; the next start puts
// them back before anything else and says which. "Office" was set up again
// by the operator since and stays as it is. "Left B" is in an old journal
// in the user's folder, taken over by the elevated start. Crafted entries touch nothing.
TEST(RomsmithStart, PrintersLeftOnFileGoBackAtStart) {
  RomsmithSession s(L"journal");
  RomsmithSetup setup;
  setup.morePrinters = L";Left A=FILE:;Left B=FILE:;Left C=FILE:;Left D=FILE:";
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  std::string journal;
  ASSERT_TRUE(FormatPortJournal({{u"Left A", u"USB001"},
                                 {u"Office", u"COM9:"},
                                 {u"\\\\evil\\Left A", u"USB001"},
                                 {u"Left C", u"USB002,LPT9:"},
                                 {u"Left D", u"C:\\Windows\\System32\\evil.dll"}},
                                &journal));
  std::string oldJournal;
  ASSERT_TRUE(FormatPortJournal({{u"Left B", u"USB002,USB003"}}, &oldJournal));
  const std::wstring path = SpoolerJournalPath();
  const std::wstring oldPath = SpoolerUserFolder() + L"\\PortJournal.txt";
  ASSERT_NE(path, oldPath) << "the elevated journal in the user's folder";
  CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  CreateDirectoryW(SpoolerUserFolder().c_str(), nullptr);
  std::ofstream(path.c_str(), std::ios::binary) << journal;
  std::ofstream(oldPath.c_str(), std::ios::binary) << oldJournal;

  ASSERT_TRUE(s.Start(L"", false)) << LastError();
  const std::u16string text = PortJournalRestoredMessage(kEnglish, {u"Left A", u"Left B"});
  ASSERT_TRUE(gui::Answer(s.pid(), std::wstring(text.begin(), text.end()), IDOK)) << LastError();
  s.main = gui::WaitTopWindow(s.pid(), L"Romsmith", L"Romsmith");
  ASSERT_NE(s.main, nullptr);
  std::ifstream in((s.folder / L"spooler.txt").c_str());
  const std::string state((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(state.find("Left A\tUSB001"), std::string::npos) << state;
  EXPECT_NE(state.find("Left B\tUSB002,USB003"), std::string::npos) << state;
  EXPECT_NE(state.find("Office\tLPT3:"), std::string::npos) << state;
  EXPECT_NE(state.find("Left C\tFILE:"), std::string::npos) << state;
  EXPECT_NE(state.find("Left D\tFILE:"), std::string::npos) << state;
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "the journal outlived the repair";
  EXPECT_EQ(GetFileAttributesW(oldPath.c_str()), INVALID_FILE_ATTRIBUTES) << "the old journal was not taken over";
  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD code = 99;
  EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
}

// A hand-edited or half-written settings file never keeps the program from
// starting: one damaged file of each kind, whatever boxes it brings up are
// answered, and Exit ends the program with 0.
TEST(RomsmithStart, StartsWithEachKindOfDamagedSettings) {
  for (int kind = 0; kind < settings_damage::kKindCount; ++kind) {
    int number = 0;
    while (settings_damage::KindOf(number) != kind) ++number;
    const settings_damage::Case damaged = settings_damage::MakeCase(number);
    SCOPED_TRACE(std::string("case ") + std::to_string(number) + " (" + damaged.kind + ")");
    RomsmithSession s(L"damaged");
    ASSERT_TRUE(s.Prepare(RomsmithSetup())) << LastError();
    ASSERT_TRUE(s.folder.WriteFile(L"Romsmith.ini", std::vector<unsigned char>(damaged.bytes.begin(), damaged.bytes.end()))) << LastError();
    ASSERT_TRUE(s.Start(L"", false)) << LastError();
    bool exitClicked = false;
    DWORD code = 99;
    const bool ended = gui::WaitUntil([&] {
      if (!s.program.Running()) return true;
      const auto boxes = gui::MessageBoxes(s.pid());
      for (const auto& box : boxes) gui::PressBoxButton(box, IDOK);
      if (!s.main) {
        const auto mains = gui::TopWindows(s.pid(), L"Romsmith", L"Romsmith");
        if (!mains.empty()) s.main = mains[0];
      }
      if (boxes.empty() && s.main && !exitClicked) exitClicked = gui::Click(s.main, IDC_EXIT);
      return false;
    });
    ASSERT_TRUE(ended) << "still running; main window " << (s.main ? "shown" : "never shown");
    EXPECT_TRUE(exitClicked) << "ended before its main window could be used";
    ASSERT_TRUE(s.program.WaitExit(&code, 1000));
    EXPECT_EQ(code, 0u);
  }
}

}  // namespace
