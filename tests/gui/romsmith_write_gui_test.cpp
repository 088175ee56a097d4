// Romsmith's printer operations driven through its window as an operator
// would: Start writing over COM and to a LAN list, failures on the way,
// Get Version and Reset Printer. The printer simulator plays the printers.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <sstream>
#include <thread>

#include "core/run_report_files.h"
#include "core/spooler_journal.h"
#include "romsmith/exit_codes.h"
#include "romsmith/resource.h"
#include "romsmith_session.h"
#include "tests/json_check.h"
#include "tests/win/sim_client.h"

namespace {

using gui::LastError;

// A printer address nothing listens on: a printer that is switched off.
constexpr int kSilentPrinter = 9;
// What a version read sends: the zero that ends any command a printer waits
// in, then the read command.
constexpr int kVersionRequestBytes = 1 + 9;

struct WriteFlow {
  const char* name;
  int language;
  bool updateMode;
  const wchar_t* kind;
  std::vector<int> lanList;
  std::vector<std::string> faults;  // "<printer> <fault>" set before the run
  std::vector<int> written;         // printers that must hold the file (0: COM)
  std::vector<int> untouched;       // printers that must receive nothing
  bool fails;                       // message 19 above the progress dialog
  std::vector<std::string> results = {};  // each printer's result in the run report
  bool reportsBlocked = false;            // the reports folder cannot be made
  const char* nextVersion = nullptr;      // what each printer reports once written (null: its old version)
  std::vector<std::string> versionChecks = {};  // each printer's "version_check"
  size_t bytes = 150 * 1024;        // of the firmware file
  const wchar_t* comPort = L"COM5";
  int refusal = 0;                  // a file message (with the path) instead of the confirmation
  bool meddles = false;             // file-name, kind and mode commands arrive during the write
  std::u16string stuck = u"";       // a fake spooler printer that cannot be put back from "FILE:"
  int usbPulled = 0;                // USB: of three printers, the last selected, this many pulled before the click
  int parallel = 0;                 // [LAN_SEND] Parallel (0: no key)
  bool automatic = false;           // started with the file on the command line; ends by itself
  std::vector<int> sxPrinters = {};  // found through the other vendor's library (its test stand-in)
};
void PrintTo(const WriteFlow& flow, std::ostream* out) { *out << flow.name; }

size_t CountLines(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class RomsmithWrite : public ::testing::TestWithParam<WriteFlow> {};

TEST_P(RomsmithWrite, RunsToItsEnd) {
  const WriteFlow& flow = GetParam();
  ASSERT_TRUE(ResetSimulator());
  for (const std::string& fault : flow.faults) {
    // "<printer> <fault> [<arg>]", or "<printer> set <key> <value>" for another setting.
    std::istringstream words(fault);
    int printer = 0;
    std::string name, arg;
    words >> printer >> name >> arg;
    ASSERT_EQ(SimCommand(SimHost(printer) + (name == "set" ? fault.substr(fault.find(' ')) : " set fault " + name)), "OK");
    if (name != "set" && !arg.empty()) {
      ASSERT_EQ(SimCommand(SimHost(printer) + " set arg " + arg), "OK");
    }
  }
  for (int printer : flow.nextVersion != nullptr ? flow.lanList : std::vector<int>()) {
    ASSERT_EQ(SimCommand(SimHost(printer) + " set next_version " + flow.nextVersion), "OK");
  }
  RomsmithSession s(L"write");
  ClearReports();
  // A file where the folder should be: no report can be written.
  const std::wstring reports = ReportFolder();
  if (flow.reportsBlocked) {
    CreateDirectoryW(reports.substr(0, reports.rfind(L'\\')).c_str(), nullptr);
    RemoveDirectoryW(reports.c_str());
    CloseHandle(CreateFileW(reports.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  RomsmithSetup setup;
  setup.language = flow.language;
  setup.updateMode = flow.updateMode;
  setup.kind = flow.kind;
  setup.lanPrinters = flow.lanList;
  setup.firmwareName = flow.updateMode ? L"fw.hx1" : L"fw.hex";
  setup.firmwareBytes = flow.bytes;
  setup.comPort = flow.comPort;
  setup.stuckPrinter = std::wstring(flow.stuck.begin(), flow.stuck.end());
  setup.usbPrinters = flow.usbPulled != 0 ? 3 : 0;
  setup.extra = {{L"Port", L"PortUSB", L"fe5a/0a01/(Serial No:KIT3)"}};
  setup.nameInSettings = !flow.automatic;
  if (flow.parallel != 0) setup.extra.push_back({L"LAN_SEND", L"Parallel", std::to_wstring(flow.parallel)});
  setup.sxPrinters = flow.sxPrinters;
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(flow.sxPrinters.empty() || s.folder.Copy(SXJCP32_STUB_DLL, L"SxJcp32.dll")) << LastError();
  if (flow.automatic) {
    ASSERT_TRUE(s.Start(s.FirmwarePath())) << LastError();
  } else {
    ASSERT_TRUE(s.Start()) << LastError();
    ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlEnabled(s.main, IDC_START_WRITING); }))
        << "Start writing stays disabled with " << gui::Narrow(gui::ControlText(s.main, IDC_FILE_NAME));
    // The USB selection is kept by position: after the pull, the last printer left.
    ASSERT_TRUE(flow.usbPulled == 0 ||
                s.folder.WriteFile(L"usb.txt", {static_cast<unsigned char>('3' - flow.usbPulled)}));
    s.usbSerial = L"KIT" + std::to_wstring(3 - flow.usbPulled);
    s.NewLogLines();
    ASSERT_TRUE(gui::Click(s.main, IDC_START_WRITING)) << LastError();
  }
  if (flow.refusal != 0) {
    ASSERT_TRUE(gui::Answer(s.pid(), Message(flow.refusal, flow.language, {s.FirmwarePath()}), IDOK)) << LastError();
    EXPECT_EQ(s.WaitProgressDialog(1000), nullptr) << "a refused file opened the progress dialog";
    EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(s.main) != FALSE; }));
    EXPECT_EQ(SimCommand("com count"), "OK 0") << "the printer received a refused file";
    ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
    DWORD code = 99;
    EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
    return;
  }
  ASSERT_TRUE(s.Confirm(IDOK)) << LastError();
  HWND progress = s.WaitProgressDialog();
  ASSERT_NE(progress, nullptr) << "no progress dialog";
  if (flow.automatic) s.main = GetWindow(progress, GW_OWNER);
  EXPECT_EQ(GetWindow(progress, GW_OWNER), s.main);
  EXPECT_FALSE(IsWindowEnabled(s.main)) << "the main window stays usable while writing";
  if (flow.meddles) {
    // Posted as Wine would hand the disabled window's controls a click; a
    // running write must not re-read its file, nor change kind or mode.
    HWND edit = GetDlgItem(s.main, IDC_FILE_NAME);
    PostMessageW(s.main, WM_COMMAND, MAKEWPARAM(IDC_FILE_NAME, EN_CHANGE), reinterpret_cast<LPARAM>(edit));
    // The kind in use first: a radio handled by mistake is not undone later.
    for (int radio : {IDC_KIND_COM, IDC_KIND_USB, IDC_KIND_LPT, IDC_KIND_LAN, IDC_MODE_REWRITE_ALL, IDC_MODE_UPDATE}) {
      PostMessageW(s.main, WM_COMMAND, MAKEWPARAM(radio, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(s.main, radio)));
    }
  }

  gui::MessageBoxSeen box;
  const bool slowFourth = std::find(flow.faults.begin(), flow.faults.end(), "4 slow 60000") != flow.faults.end();
  if (flow.parallel > 1) {
    EXPECT_TRUE(gui::WaitUntil([&] { return GetDlgItem(progress, IDC_PROGRESS_LIST) != nullptr; })) << "no progress list";
  }
  if (flow.parallel > 1 && slowFourth) {
    // One printer's slowness holds up nobody: the printers behind it in the
    // list are written while it still reads.
    const std::string whole = "OK " + std::to_string(s.firmware.size());
    EXPECT_TRUE(gui::WaitUntil([&] {
      return SimCommand(SimHost(5) + " count") == whole && SimCommand(SimHost(6) + " count") == whole;
    })) << "the printers behind the slow one were not written";
    EXPECT_NE(SimCommand(SimHost(4) + " count"), whole) << "the slow printer was done before the ones behind it";
  }
  if (flow.fails && flow.parallel > 1) {
    // One box names every failed printer and says how many were written;
    // the closing messages follow for those.
    ASSERT_TRUE(gui::WaitMessageBox(s.pid(), &box, 60000)) << LastError();
    const std::string text = gui::Narrow(box.text);
    const std::string box19 = gui::Narrow(Message(19, flow.language));
    for (size_t i = 0; i < flow.lanList.size(); ++i) {
      const std::string line = SimHost(flow.lanList[i]) + ": " + box19.substr(0, box19.find('\n'));
      EXPECT_EQ(text.find(line) != std::string::npos, flow.results[i] == "failed") << line << " in\n" << text;
    }
    const size_t failures = std::count(flow.results.begin(), flow.results.end(), "failed");
    EXPECT_NE(text.find("Writing failed on " + std::to_string(failures) + " of " + std::to_string(flow.lanList.size())),
              std::string::npos) << text;
    EXPECT_NE(text.find(std::to_string(flow.lanList.size() - failures) + " printer(s) were written."), std::string::npos)
        << text;
    EXPECT_EQ(box.owner, progress) << "the box is not above the progress dialog";
    ASSERT_TRUE(gui::PressBoxButton(box, IDOK)) << LastError();
    ASSERT_TRUE(s.ConfirmClosingMessages(progress)) << LastError();
  } else if (flow.fails) {
    ASSERT_TRUE(gui::WaitMessageBox(s.pid(), &box)) << LastError();
    EXPECT_EQ(gui::Narrow(box.text), gui::Narrow(Message(19, flow.language)));
    EXPECT_EQ(box.owner, progress) << "the error box is not above the progress dialog";
    ASSERT_TRUE(gui::PressBoxButton(box, IDOK)) << LastError();
    // An earlier printer of the list still on "FILE:" is named too.
    ASSERT_TRUE(flow.stuck.empty() || gui::Answer(s.pid(), LeftOnFileMessage(flow.language, flow.stuck), IDOK))
        << LastError();
    // The dialog closes by itself: no further OK.
    EXPECT_TRUE(gui::WaitUntil([&] { return !IsWindow(progress); })) << "the progress dialog stayed open";
  } else {
    DWORD checkingMs = 0;
    ASSERT_TRUE(s.ConfirmClosingMessages(progress, flow.reportsBlocked ? &box : nullptr, &checkingMs)) << LastError();
    // At most 15 s for a printer that never answers, a few for the others.
    EXPECT_LT(checkingMs, 20000u) << "the version check after the write took too long or stopped painting";
  }
  DWORD code = 99;
  if (flow.automatic) {
    ASSERT_TRUE(s.program.WaitExit(&code)) << "the automatic run did not end by itself";
    EXPECT_EQ(code, static_cast<DWORD>(flow.fails ? kExitWriteFailed : kExitWritten));
  } else {
    EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(s.main) != FALSE; })) << "the main window stays disabled";
    EXPECT_TRUE(gui::MessageBoxes(s.pid()).empty()) << "a message box is left open";
  }

  for (int printer : flow.written) {
    std::string why;
    EXPECT_TRUE(s.ReceivedFirmware(printer, &why)) << why;
  }
  for (int printer : flow.untouched) {
    // Update mode reads every printer of the list before the first write:
    // one the run never reached was asked its version, and sent nothing else.
    const std::string count = SimCommand(SimHost(printer) + " count");
    EXPECT_EQ(count, flow.updateMode ? "OK " + std::to_string(kVersionRequestBytes) : "OK 0")
        << SimHost(printer) << " was written to";
    EXPECT_EQ(SimCommand(SimHost(printer) + " connections"), flow.updateMode ? "OK 1" : "OK 0")
        << SimHost(printer) << " was reached";
  }
  if (flow.meddles) {
    const int inUse = std::wstring(flow.kind) == L"LAN" ? IDC_LAN_LIST : IDC_COM_PORT;
    for (int id : {IDC_USB_PORT, IDC_COM_PORT, IDC_LPT_PORT, IDC_LAN_LIST}) {
      EXPECT_EQ(gui::ControlVisible(s.main, id), id == inUse) << "the port kind changed during the write: " << id;
    }
    EXPECT_EQ(gui::ControlText(s.main, IDC_FILE_NAME), s.FirmwarePath()) << "the write mode changed during the write";
  }
  int switches = 0;
  std::string why;
  EXPECT_EQ(s.SpoolerRestored(&switches, &why), flow.stuck.empty()) << why;
  if (!flow.stuck.empty()) DeleteFileW(SpoolerJournalPath().c_str());  // not for the next run to repair
  if (!flow.written.empty()) {
    EXPECT_GT(switches, 0) << "no spooler printer was switched to FILE: during the write";
  }
  std::vector<std::string> log = s.NewLogLines();
  // An automatic run also checks the file as the command line fills the box.
  EXPECT_EQ(CountLines(log, "PrepareFirmware Start"), flow.automatic ? 2u : 1u) << "the firmware file is read once per run";
  if (!flow.fails && std::count(flow.versionChecks.begin(), flow.versionChecks.end(), "not read") == 0) {
    size_t printers = flow.lanList.empty() ? 1 : flow.lanList.size();
    // Update mode reads each printer's version before and after its write;
    // on a LAN list every printer at once, not through the one-by-one
    // exchange, and side by side no write goes through it either.
    const size_t exchanges = flow.updateMode && flow.lanList.empty() ? 3 : 1;
    EXPECT_EQ(CountLines(log, "SendPrinter Start"), flow.parallel > 1 ? 0 : printers * exchanges);
  }

  std::string json, text;
  if (flow.reportsBlocked) {
    DeleteFileW(reports.c_str());
    // After its tries the operator learns which file was not written.
    EXPECT_NE(box.text.find(reports + L"\\Write-"), std::wstring::npos) << gui::Narrow(box.text);
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
      return line.rfind("RunReport Err(", 0) == 0;
    })) << "the report that could not be written is not in the log";
  } else {
    ASSERT_TRUE(LatestRunReport(&json, &text)) << "no run report";
    EXPECT_TRUE(json_check::ValidJson(json)) << json;
    EXPECT_EQ(json_check::Values(json, "result"), flow.results);
    EXPECT_EQ(json_check::Values(json, "mode")[0], flow.updateMode ? "update" : "rewrite_all");
    EXPECT_EQ(json_check::Values(json, "exit_code")[0], flow.automatic ? std::to_string(code) : "null");
    EXPECT_EQ(json_check::Values(json, "parallel")[0], std::to_string(flow.parallel > 1 ? flow.parallel : 1));
    EXPECT_EQ(json_check::Values(json, "size")[0], std::to_string(s.firmware.size()));
    char crc[9];
    snprintf(crc, sizeof(crc), "%08x", static_cast<unsigned>(FileCrc32(s.firmware.data(), s.firmware.size())));
    EXPECT_EQ(json_check::Values(json, "crc32")[0], crc);
    EXPECT_EQ(json_check::Values(json, "left_on_file")[0],
              flow.stuck.empty() ? "[]" : "[\"" + std::string(flow.stuck.begin(), flow.stuck.end()) + "\"]");
    const std::vector<std::string> codes = json_check::Values(json, "code");
    const std::vector<std::string> messages = json_check::Values(json, "message");
    const std::vector<std::string> sent = json_check::Values(json, "bytes_sent");
    for (size_t i = 0; i < flow.results.size() && i < codes.size() && i < messages.size() && i < sent.size(); ++i) {
      const bool failed = flow.results[i] == "failed";
      EXPECT_EQ(codes[i] != "0" && codes[i] != "null", failed) << i;
      // The text of the box shown, whole; side by side, where one box lists
      // every failed printer, the message of the printer's own result.
      const std::wstring own = flow.parallel > 1 ? Message(19, flow.language) : box.text;
      const std::string shown = JsonString(std::u16string(own.begin(), own.end()));
      EXPECT_EQ(messages[i], failed ? shown.substr(1, shown.size() - 2) : "") << i;
      if (!failed) continue;
      // The bytes handed to the port: at least what the printer got, less than the file.
      const int printer = flow.lanList.empty() ? 0 : flow.lanList[i];
      EXPECT_LT(std::stoull(sent[i]), s.firmware.size()) << i;
      EXPECT_GE(std::stoull(sent[i]), SimBytes(printer).size()) << i;
    }
    EXPECT_EQ(json_check::Values(json, "version_check"), flow.versionChecks);
    if (flow.nextVersion != nullptr) {
      // The version read after the write from the printer left selected (the last), or nothing.
      const bool lastRead = flow.versionChecks.back() != "not read";
      EXPECT_EQ(gui::Narrow(gui::ControlText(s.main, IDC_VERSION_RESULT)),
                lastRead ? std::string(" ABC-123 ") + flow.nextVersion : "");
      EXPECT_NE(json_check::Values(json, "version_after")[0], json_check::Values(json, "version_before")[0]);
    }
    EXPECT_NE(text.find(flow.language == kJapanese ? "ファームウェア書込みレポート" : "Firmware write report"),
              std::string::npos)
        << text;
  }
  if (flow.usbPulled != 0) {
    EXPECT_EQ(json_check::Values(json, "usb_serial"), std::vector<std::string>{gui::Narrow(s.usbSerial)});
  } else if (flow.lanList.empty()) {
    EXPECT_GE(CountLines(log, "Port = " + gui::Narrow(flow.comPort)), 1u) << "the data went to another port";
  }
  if (flow.parallel > 1) {
    EXPECT_EQ(CountLines(log, "ParallelWrite Start (Parallel = " + std::to_string(flow.parallel) +
                                  ", printers = " + std::to_string(flow.lanList.size()) + ")"),
              1u);
  }
  if (!flow.sxPrinters.empty()) {
    EXPECT_EQ(CountLines(log, "ParallelWrite " + std::to_string(flow.sxPrinters.size()) +
                                  " printer(s) of SxJcp32.dll written one at a time"),
              1u);
  }
  if (flow.automatic) return;

  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  ASSERT_TRUE(s.program.WaitExit(&code)) << LastError();
  EXPECT_EQ(code, 0u) << "a run started without a command line ends with 0";
}

INSTANTIATE_TEST_SUITE_P(
    Flows, RomsmithWrite,
    ::testing::Values(
        WriteFlow{"ComRewriteAll", kEnglish, false, L"COM", {}, {}, {0}, {}, false, {"written"}, false, nullptr,
                  {"not applicable"}},
        WriteFlow{"ComCommandsDuringWrite", kEnglish, false, L"COM", {}, {}, {0}, {}, false, {"written"}, false,
                  nullptr, {"not applicable"}, 150 * 1024, L"COM5", 0, true},
        WriteFlow{"LanUpdateThreePrinters", kJapanese, true, L"LAN", {2, 3, 4}, {}, {2, 3, 4}, {}, false,
                  {"written", "written", "written"}, false, nullptr, {"unchanged", "unchanged", "unchanged"}},
        WriteFlow{"LanUpdateTwoPrintersChange", kEnglish, true, L"LAN", {2, 3}, {}, {2, 3}, {}, false,
                  {"written", "written"}, false, "02.00 B", {"changed", "changed"}, 150 * 1024, L"COM5", 0, true},
        // The last printer answers nothing: its check ends at its bound, no version shows.
        WriteFlow{"LanUpdateLastNotRead", kEnglish, true, L"LAN", {2, 3}, {"3 silent"}, {2, 3}, {}, false,
                  {"written", "written"}, false, "02.00 B", {"changed", "not read"}},
        WriteFlow{"LanSilentPrinter", kEnglish, true, L"LAN", {kSilentPrinter}, {}, {}, {}, true, {"failed"}, false,
                  nullptr, {"not read"}},
        // Reads 150 KB a second through a small window and gives up a third
        // of the way, while most of the file still waits on our side.
        WriteFlow{"LanPrinterGivesUpPartWay", kEnglish, false, L"LAN", {2},
                  {"2 set rate 153600", "2 set rcvbuf 32768", "2 set arg 100000", "2 fin_reset"}, {}, {}, true,
                  {"failed"}, false, nullptr, {"not applicable"}, 307200},
        WriteFlow{"LanSecondOfThreeFails", kEnglish, true, L"LAN", {2, 3, 4}, {"3 close_at_once"}, {2}, {4}, true,
                  {"written", "failed", "not_attempted"}, false, nullptr, {"not read", "not read", "not read"}},
        WriteFlow{"LanFailsAfterAGiveBackFailed", kEnglish, false, L"LAN", {2, 3}, {"3 close_at_once"}, {2}, {}, true,
                  {"written", "failed"}, false, nullptr, {"not applicable", "not applicable"}, 150 * 1024, L"COM5", 0,
                  false, u"Receipt 2"},
        WriteFlow{"UsbPrinterPulledBeforeClick", kEnglish, false, L"USB", {}, {}, {}, {}, true, {"failed"}, false,
                  nullptr, {"not applicable"}, 150 * 1024, L"COM5", 0, false, u"", 1},
        // A report that cannot be written leaves the run as it is.
        WriteFlow{"ComReportFolderBlocked", kEnglish, false, L"COM", {}, {}, {0}, {}, false, {}, true, nullptr, {}},
        // The settings name a port longer than the box lets one type; no
        // such port exists here, so the open fails, on that port.
        WriteFlow{"ComNameOfSixCharacters", kEnglish, false, L"COM", {}, {}, {}, {}, true, {"failed"}, false, nullptr,
                  {"not applicable"}, 150 * 1024, L"COM123"},
        // Parallel 4 over six printers: one switched off, one that drops the
        // connection part way, one that reads slowly.
        WriteFlow{"LanParallelSixPrinters", kEnglish, false, L"LAN", {2, kSilentPrinter, 3, 4, 5, 6},
                  {"3 drop 60000", "4 slow 60000"}, {2, 4, 5, 6}, {}, true,
                  {"written", "failed", "failed", "written", "written", "written"}, false, nullptr,
                  std::vector<std::string>(6, "not applicable"), 150 * 1024, L"COM5", 0, false, u"", 0, 4, true},
        WriteFlow{"LanUpdateSideBySide", kJapanese, true, L"LAN", {2, 3, 4}, {}, {2, 3, 4}, {}, false,
                  {"written", "written", "written"}, false, "02.00 B", {"changed", "changed", "changed"}, 150 * 1024,
                  L"COM5", 0, false, u"", 0, 3},
        // Two printers reached through the other vendor's library go one at a time beside the others.
        WriteFlow{"LanSideBySideBothLibraries", kEnglish, false, L"LAN", {2, 3, 4, 5}, {}, {2, 3, 4, 5}, {}, false,
                  {"written", "written", "written", "written"}, false, nullptr,
                  std::vector<std::string>(4, "not applicable"), 150 * 1024, L"COM5", 0, false, u"", 0, 4, false, {3, 5}},
        WriteFlow{"EmptyFileRefused", kJapanese, false, L"COM", {}, {}, {}, {}, false, {}, false, nullptr, {}, 0,
                  L"COM5", 18}),
    FlowName());

// Below the windows: a report held open by another program for a moment is
// written once it is free, its numbers with a point under a decimal comma.
TEST(RunReportFiles, HeldFileIsWrittenOnceFree) {
  ASSERT_NE(setlocale(LC_NUMERIC, "German"), nullptr);
  RunReport report;
  report.started = ReportNow();
  report.printers.resize(1);
  report.printers[0].seconds = 0.5;
  const std::string stamp = FileStamp(report.started);
  const std::wstring folder = ReportFolder();
  CreateDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring path = folder + L"\\Write-" + std::wstring(stamp.begin(), stamp.end()) + L".json";
  HANDLE held = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] { Sleep(300); CloseHandle(held); });
  std::wstring notWritten;
  EXPECT_TRUE(SaveRunReport(report, kEnglish, ReportTries::kForAMoment, &notWritten)) << gui::Narrow(notWritten);
  release.join();
  setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(json_check::Values(FileBytes(path), "seconds"), std::vector<std::string>{"0.500"});
}

// Get Version shows the parsed version; Reset Printer resets every listed
// printer, also past one left on "FILE:", which a box names at the end.
struct PrinterCommandFlow {
  const char* name;
  int button;
  int confirmation;
  const wchar_t* kind;
  std::vector<int> lanList;
  std::wstring versionLabel;  // expected label 1031 after Get Version
  std::u16string stuck = u"";  // a fake spooler printer that cannot be put back from "FILE:"
  int parallel = 0;            // [LAN_SEND] Parallel (0: no key)
};
void PrintTo(const PrinterCommandFlow& flow, std::ostream* out) { *out << flow.name; }

class RomsmithPrinterCommand : public ::testing::TestWithParam<PrinterCommandFlow> {};

TEST_P(RomsmithPrinterCommand, ReachesEveryPrinter) {
  const PrinterCommandFlow& flow = GetParam();
  ASSERT_TRUE(ResetSimulator());
  ASSERT_EQ(SimCommand(SimHost(3) + " set number XY-9"), "OK");
  ASSERT_EQ(SimCommand(SimHost(3) + " set version 02.00 B"), "OK");
  RomsmithSession s(L"command");
  RomsmithSetup setup;
  setup.updateMode = true;
  setup.kind = flow.kind;
  setup.lanPrinters = flow.lanList;
  setup.stuckPrinter = std::wstring(flow.stuck.begin(), flow.stuck.end());
  if (flow.parallel != 0) setup.extra.push_back({L"LAN_SEND", L"Parallel", std::to_wstring(flow.parallel)});
  ASSERT_TRUE(s.Prepare(setup)) << LastError();
  ASSERT_TRUE(s.Start()) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return gui::ControlEnabled(s.main, flow.button); })) << "button stays disabled";
  s.NewLogLines();

  ASSERT_TRUE(gui::Click(s.main, flow.button)) << LastError();
  ASSERT_TRUE(gui::Answer(s.pid(), Message(flow.confirmation, kEnglish), IDOK)) << LastError();
  // The answer comes back before the window turns busy: wait for what the
  // command does, then for the window.
  if (!flow.versionLabel.empty()) {
    EXPECT_TRUE(gui::WaitControlText(s.main, IDC_VERSION_RESULT, flow.versionLabel)) << LastError();
  }
  if (flow.button == IDC_RESET_PRINTER) {
    const std::string reset = "1b3d025245534554331b3d03";  // ESC = 2 RESET3 ESC = 3
    for (int printer : flow.lanList) {
      std::string got;
      EXPECT_TRUE(gui::WaitUntil([&] {
        got = SimCommand(SimHost(printer) + " received");
        return got.find(reset) != std::string::npos;
      })) << SimHost(printer) << " was not reset: " << got;
    }
  }
  if (!flow.stuck.empty()) {
    EXPECT_TRUE(gui::Answer(s.pid(), LeftOnFileMessage(kEnglish, flow.stuck), IDOK)) << LastError();
  }
  EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowEnabled(s.main) != FALSE; })) << "the main window stays disabled";
  EXPECT_TRUE(gui::MessageBoxes(s.pid()).empty()) << "unexpected box: " << gui::Narrow(gui::MessageBoxes(s.pid())[0].text);
  int switches = 0;
  std::string why;
  EXPECT_EQ(s.SpoolerRestored(&switches, &why), flow.stuck.empty()) << why;
  if (!flow.stuck.empty()) DeleteFileW(SpoolerJournalPath().c_str());
  if (flow.parallel > 1) {
    const std::vector<std::string> log = s.NewLogLines();
    for (int printer : flow.lanList) {
      EXPECT_EQ(CountLines(log, "ParallelReset Printer " + SimHost(printer) + " Success"), 1u) << SimHost(printer);
    }
  }
  ASSERT_TRUE(gui::Click(s.main, IDC_EXIT)) << LastError();
  DWORD code = 99;
  EXPECT_TRUE(s.program.WaitExit(&code)) << LastError();
}

INSTANTIATE_TEST_SUITE_P(
    Flows, RomsmithPrinterCommand,
    ::testing::Values(PrinterCommandFlow{"GetVersionCom", IDC_GET_VERSION, 10, L"COM", {}, L" ABC-123 01.23 A"},
                      PrinterCommandFlow{"GetVersionLan", IDC_GET_VERSION, 10, L"LAN", {3}, L" XY-9 02.00 B"},
                      PrinterCommandFlow{"ResetEveryLanPrinter", IDC_RESET_PRINTER, 8, L"LAN", {2, 3, 4}, L""},
                      PrinterCommandFlow{"GetVersionGiveBackFails", IDC_GET_VERSION, 10, L"COM", {},
                                         L" ABC-123 01.23 A", u"Receipt COM"},
                      PrinterCommandFlow{"ResetPastAFailedGiveBack", IDC_RESET_PRINTER, 8, L"LAN", {2, 3, 4}, L"",
                                         u"Receipt 3"},
                      PrinterCommandFlow{"ResetSideBySide", IDC_RESET_PRINTER, 8, L"LAN", {2, 3, 4, 5, 6}, L"", u"",
                                         5}),
    FlowName());

}  // namespace
