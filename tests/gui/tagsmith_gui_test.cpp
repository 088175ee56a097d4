// Tagsmith driven through its window as an operator would: reading and
// writing the serial number of the simulated printer on COM and on LAN
// (through either network library), the serial box rules, the one-instance
// rule and the hand-over to Romsmith at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/message_catalog.h"
#include "core/port_journal.h"
#include "core/run_report_files.h"
#include "core/spooler_journal.h"
#include "tagsmith/resource.h"
#include "tests/json_check.h"
#include "tests/win/sim_client.h"
#include "tools/gui_driver.h"

namespace {

using gui::IniKey;
using gui::LastError;

constexpr int kEnglish = 1;

std::wstring Message(int number) { return CatalogueText(CatalogueOwner::kTagsmith, number, kEnglish); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<IniKey> ComSettings() {
  return {{L"Language", L"Country", L"English"}, {L"Port", L"Connected", L"COM"}, {L"Port", L"PortCOM", kSimComName}};
}

// A LAN list entry for simulator printer `printer` (0: no address).
std::wstring LanRecord(int slot, int printer) {
  return std::to_wstring(slot) + L",KM-510," + (printer == 0 ? L"None" : Wide(SimHost(printer))) +
         L",00:11:22:33:44:5" + std::to_wstring(printer);
}

// Port kind LAN with the selection `portLan` and one entry per printer,
// keys Port001 upwards.
std::vector<IniKey> LanList(const wchar_t* portLan, const std::vector<int>& printers, int slot = 1) {
  std::vector<IniKey> keys = {
      {L"Language", L"Country", L"English"}, {L"Port", L"Connected", L"LAN"}, {L"Port", L"PortLAN", portLan}};
  for (size_t i = 0; i < printers.size(); ++i) {
    keys.push_back({L"IPAddress", L"Port00" + std::to_wstring(i + 1), LanRecord(slot, printers[i])});
  }
  return keys;
}

// The LAN printer list holds two printers found through `slot`; the second
// one, printer 2 of the simulator, is selected.
std::vector<IniKey> LanSettings(int slot) { return LanList(L"Port002", {3, 2}, slot); }

std::string FileBytes(const std::wstring& path) {
  std::string bytes;
  if (FILE* file = _wfopen(path.c_str(), L"rb")) {
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.append(chunk, n);
    fclose(file);
  }
  return bytes;
}

// One Tagsmith in a program folder of its own.
struct TagsmithRun {
  explicit TagsmithRun(const wchar_t* tag) : folder(gui::TempFolderPath(tag)) {}

  bool Prepare(const std::vector<IniKey>& settings, bool lanquay = true, bool sxStub = false) {
    return folder.Copy(TAGSMITH_EXE) && (!lanquay || folder.Copy(LANQUAY_DLL)) &&
           (!sxStub || folder.Copy(SXSTUB_DLL, L"SxJcp32.dll")) && folder.WriteSettings(settings);
  }
  // The fake spooler through the test seam, with printer "Receipt COM" on
  // the COM printer's port; `stuck` cannot be put back once on "FILE:", for
  // the cause that the fake spooler's variable `fault` names.
  bool FakeSpooler(const wchar_t* fault, const std::wstring& stuck) {
    spooler = {{L"ROMSMITH_TEST_SEAMS", folder / L"fake_spooler.dll"},
               {L"KIT_FAKE_SPOOLER", L"Receipt COM=" + std::wstring(kSimComName) + L":;Office=LPT3:"},
               {L"KIT_FAKE_SPOOLER_STATE", folder / L"spooler.txt"},
               {fault, stuck}};
    return folder.Copy(FAKE_SPOOLER_DLL, L"fake_spooler.dll");
  }
  bool Start(const std::wstring& arguments = L"") {
    for (const auto& v : spooler) SetEnvironmentVariableW(v.first.c_str(), v.second.c_str());
    bool started = program.Start(folder / L"Tagsmith.exe", arguments);
    for (const auto& v : spooler) SetEnvironmentVariableW(v.first.c_str(), nullptr);
    if (!started) return false;
    window = gui::WaitTopWindow(program.pid(), L"Tagsmith", L"Tagsmith");
    return window != nullptr;
  }
  bool Idle() {
    return gui::WaitUntil([&] { return IsWindowEnabled(window) && gui::MessageBoxes(program.pid()).empty(); });
  }
  // Clicks an operation's button, confirms and answers the result box and
  // the one after it.
  bool Operate(int button, int confirmation, const std::wstring& result, const std::wstring& then = L"") {
    return Idle() && gui::Click(window, button) && gui::Answer(program.pid(), Message(confirmation), IDOK) &&
           (result.empty() || gui::Answer(program.pid(), result, IDOK)) &&
           (then.empty() || gui::Answer(program.pid(), then, IDOK)) && Idle();
  }

  gui::ProgramFolder folder;
  gui::Program program;
  HWND window = nullptr;
  std::vector<std::pair<std::wstring, std::wstring>> spooler;
};

TEST(TagsmithGui, SerialBoxTakesTenCharactersAndGatesStartWriting) {
  TagsmithRun run(L"tagsmith-box");
  ASSERT_TRUE(run.Prepare(ComSettings())) << LastError();
  ASSERT_TRUE(run.Start()) << LastError();
  EXPECT_FALSE(gui::ControlEnabled(run.window, IDC_WRITE_SERIAL)) << "empty box at start";
  EXPECT_EQ(gui::ControlText(run.window, IDC_SERIAL_READ), L"");
  EXPECT_EQ(gui::FocusOf(run.window), GetDlgItem(run.window, IDC_SERIAL_INPUT));

  ASSERT_TRUE(gui::TypeChars(run.window, IDC_SERIAL_INPUT, L"7")) << LastError();
  EXPECT_TRUE(gui::ControlEnabled(run.window, IDC_WRITE_SERIAL)) << "one character typed";
  ASSERT_TRUE(gui::TypeChars(run.window, IDC_SERIAL_INPUT, L"\b")) << LastError();
  EXPECT_EQ(gui::ControlText(run.window, IDC_SERIAL_INPUT), L"");
  EXPECT_FALSE(gui::ControlEnabled(run.window, IDC_WRITE_SERIAL)) << "the character deleted again";

  ASSERT_TRUE(gui::TypeChars(run.window, IDC_SERIAL_INPUT, L"12345678901")) << LastError();
  EXPECT_EQ(gui::ControlText(run.window, IDC_SERIAL_INPUT), L"1234567890") << "the eleventh character was taken";
}

// The cases run in order in one Tagsmith: the second one writes the number
// the first one read back, so a stale read-back could pass for a success.
struct WriteCase {
  const char* name;
  std::vector<std::string> simulator;  // control lines for the COM printer
  std::wstring serial;                 // put into the box
  int result;                          // catalogue message shown at the end
  std::string heldAfter;               // the printer's serial number afterwards
  bool nothingSent;                    // no serial-number command reached the printer
  const char* matched;                 // "read_back_matched" of its serial-number record
  const char* before;                  // its "serial_before": read just before the write
};

TEST(TagsmithGui, StartWritingReadsBackWhatItWrote) {
  const std::wstring tooLong(300, L'A');
  const WriteCase cases[] = {
      {"written and read back", {"set serial SN000009"}, L"000123", 14, "000123", false, "true", "SN000009"},
      // Neither read gets a reply it can take: no number before either.
      {"read-back fails after the write", {"set serial SN000001", "set fault wrong_header"}, L"000123", 19, "000123",
       false, "false", "null"},
      // The printer keeps answering its old number: "7aSN000001\r\0".
      {"printer ignores the write", {"reply readvari 3761534e3030303030310d00"}, L"000777", 23, "000777", false,
       "false", "SN000001"},
      {"text too long for the length byte", {}, tooLong, 19, "SN000001", true, "false", "SN000001"},
  };
  TagsmithRun run(L"tagsmith-write");
  ASSERT_TRUE(run.Prepare(ComSettings())) << LastError();
  const std::wstring record = ReportFolder() + L"\\SerialNumbers.jsonl";
  // An entry cut short by an earlier crash: the next one starts a line of its own.
  const std::wstring folder = ReportFolder();
  CreateDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  std::ofstream(record.c_str(), std::ios::binary) << "{\"time\": \"2026-";
  ASSERT_TRUE(run.Start()) << LastError();
  size_t entries = 1;
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SimCommand("com reset"), "OK");
    for (const std::string& line : c.simulator) ASSERT_EQ(SimCommand("com " + line), "OK");
    ASSERT_TRUE(gui::SetText(run.program.pid(), run.window, IDC_SERIAL_INPUT, c.serial)) << LastError();
    EXPECT_TRUE(run.Operate(IDC_WRITE_SERIAL, 12, Message(c.result))) << LastError();
    EXPECT_EQ(SimCommand("com serial"), "OK " + c.heldAfter);
    if (c.nothingSent) {
      EXPECT_EQ(SimCommand("com received").find("1d6753455249414c"), std::string::npos);  // GS g "SERIAL"
    }
    EXPECT_EQ(gui::ControlText(run.window, IDC_SERIAL_READ), L"") << "a write leaves the label alone";
    // Each write appends its own line to the record.
    std::ifstream in(record.c_str(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), ++entries);
    EXPECT_TRUE(json_check::ValidJson(lines.back())) << lines.back();
    // What the box took of the text (it holds fewer characters than the long case types).
    const std::string written = json_check::Values(lines.back(), "serial_written")[0];
    EXPECT_TRUE(!written.empty() && gui::Narrow(c.serial).rfind(written, 0) == 0) << written;
    EXPECT_EQ(json_check::Values(lines.back(), "read_back_matched")[0], c.matched);
    EXPECT_EQ(json_check::Values(lines.back(), "serial_before")[0], c.before);
    EXPECT_EQ(json_check::Values(lines.back(), "port_kind")[0], "COM");
  }
}

TEST(TagsmithGui, GetSerialNumberShowsSwitchedOffSerialAsZero) {
  ASSERT_EQ(SimCommand("com reset"), "OK");
  ASSERT_EQ(SimCommand("com set serial 0"), "OK");
  TagsmithRun run(L"tagsmith-get");
  ASSERT_TRUE(run.Prepare(ComSettings())) << LastError();
  ASSERT_TRUE(run.Start()) << LastError();
  ASSERT_TRUE(run.Operate(IDC_GET_SERIAL, 11, L"")) << LastError();
  EXPECT_TRUE(gui::WaitControlText(run.window, IDC_SERIAL_READ, L" 0"))
      << gui::Narrow(gui::ControlText(run.window, IDC_SERIAL_READ));
  ASSERT_TRUE(run.Idle());
  EXPECT_EQ(gui::FocusOf(run.window), GetDlgItem(run.window, IDC_GET_SERIAL)) << "focus back on the button";
}

struct LanCase {
  const char* name;
  int slot;      // the library the printer was found through
  bool lanquay;  // libraries in the program folder
  bool sxStub;
  bool throughStub;  // the exchange must go through slot 0's library
};

TEST(TagsmithGui, LanPrinterIsReachedThroughItsSlotsLibrary) {
  const LanCase cases[] = {
      {"slot 1, both libraries", 1, true, true, false},
      {"slot 0, both libraries", 0, true, true, true},
      {"slot 0 without its library", 0, true, false, false},
      {"slot 1 without its library", 1, false, true, true},
  };
  for (const LanCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(SimCommand(SimHost(3) + " reset"), "OK");
    ASSERT_EQ(SimCommand(SimHost(2) + " reset"), "OK");
    ASSERT_EQ(SimCommand(SimHost(2) + " set serial LAN4711"), "OK");
    TagsmithRun run(L"tagsmith-lan");
    ASSERT_TRUE(run.Prepare(LanSettings(c.slot), c.lanquay, c.sxStub)) << LastError();
    std::wstring portLog = run.folder / L"sx-ports.log";
    SetEnvironmentVariableW(L"KIT_SXSTUB_PORT_LOG", portLog.c_str());
    bool started = run.Start();
    SetEnvironmentVariableW(L"KIT_SXSTUB_PORT_LOG", nullptr);
    ASSERT_TRUE(started) << LastError();
    ASSERT_TRUE(run.Operate(IDC_GET_SERIAL, 11, L"")) << LastError();
    EXPECT_TRUE(gui::WaitControlText(run.window, IDC_SERIAL_READ, L" LAN4711"))
        << gui::Narrow(gui::ControlText(run.window, IDC_SERIAL_READ));
    bool stubOpened = GetFileAttributesW(portLog.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(stubOpened, c.throughStub);
  }
}

// Tagsmith shows no port: it must reach the printer saved under "PortLAN"
// whatever entries before it the loader dropped, and refuse (message 2, no
// confirmation) rather than fall back to another printer or to an empty
// address, which is this computer.
struct SelectionCase {
  const char* name;
  const wchar_t* portLan;
  std::vector<int> printers;  // simulator printer per key, 0 for no address
  const wchar_t* shown;       // the serial label, or null for message 2
};

TEST(TagsmithGui, LanOperationsReachTheSavedPrinterOrRefuse) {
  const SelectionCase cases[] = {
      {"an entry without an address before the selected", L"Port003", {0, 3, 2}, L" LAN4711"},
      {"a repeated address before the selected", L"Port003", {3, 3, 2}, L" LAN4711"},
      {"the selected entry repeats an earlier one: the same printer", L"Port003", {2, 3, 2}, L" LAN4711"},
      {"an empty list", L"None", {}, nullptr},
      {"the selected entry has no address", L"Port002", {3, 0, 4}, nullptr},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (int printer : {2, 3, 4}) ASSERT_EQ(SimCommand(SimHost(printer) + " reset"), "OK");
    ASSERT_EQ(SimCommand(SimHost(2) + " set serial LAN4711"), "OK");
    TagsmithRun run(L"tagsmith-lan-selection");
    ASSERT_TRUE(run.Prepare(LanList(c.portLan, c.printers))) << LastError();
    ASSERT_TRUE(run.Start()) << LastError();
    if (c.shown != nullptr) {
      ASSERT_TRUE(run.Operate(IDC_GET_SERIAL, 11, L"")) << LastError();
      EXPECT_TRUE(gui::WaitControlText(run.window, IDC_SERIAL_READ, c.shown))
          << gui::Narrow(gui::ControlText(run.window, IDC_SERIAL_READ));
      continue;
    }
    ASSERT_TRUE(run.Idle() && gui::Click(run.window, IDC_GET_SERIAL)) << LastError();
    EXPECT_TRUE(gui::Answer(run.program.pid(), Message(2), IDOK)) << LastError();
    EXPECT_TRUE(run.Idle());
    for (int printer : {3, 4}) EXPECT_EQ(SimCommand(SimHost(printer) + " count"), "OK 0") << printer;
  }
}

// A printer left on "FILE:" (kept there by the fake spooler's `fault`) is
// named after the read's or the write's own result, as by Romsmith.
void GiveBackFailsWith(const wchar_t* fault) {
  ASSERT_EQ(SimCommand("com reset"), "OK");
  TagsmithRun run(L"tagsmith-give-back");
  ASSERT_TRUE(run.Prepare(ComSettings()) && run.FakeSpooler(fault, L"Receipt COM")) << LastError();
  ASSERT_TRUE(run.Start()) << LastError();
  const std::u16string text = PortJournalStillOnFileMessage(kEnglish, {u"Receipt COM"});
  const std::wstring left(text.begin(), text.end());
  ASSERT_TRUE(run.Operate(IDC_GET_SERIAL, 11, left)) << LastError();
  EXPECT_EQ(gui::ControlText(run.window, IDC_SERIAL_READ), L" SN000001");
  ASSERT_TRUE(gui::SetText(run.program.pid(), run.window, IDC_SERIAL_INPUT, L"000321")) << LastError();
  const std::wstring record = ReportFolder() + L"\\SerialNumbers.jsonl";
  DeleteFileW(record.c_str());
  EXPECT_TRUE(run.Operate(IDC_WRITE_SERIAL, 12, Message(14), left)) << LastError();
  EXPECT_EQ(SimCommand("com serial"), "OK 000321") << "the write itself went through";
  // The read-back matched; the give-back has a field of its own.
  const std::string line = FileBytes(record);
  EXPECT_EQ(json_check::Values(line, "read_back_matched")[0], "true") << line;
  EXPECT_EQ(json_check::Values(line, "left_on_file")[0], "[\"Receipt COM\"]") << line;
  EXPECT_NE(FileBytes(run.folder / L"spooler.txt").find("Receipt COM\tFILE:"), std::string::npos);
  // The journal keeps the printer for the next start's repair; this test's
  // fake printer must not reach the next one.
  const std::wstring journal = SpoolerJournalPath();
  EXPECT_NE(FileBytes(journal).find("Receipt COM"), std::string::npos);
  PostMessageW(run.window, WM_COMMAND, IDC_EXIT, 0);
  DWORD exitCode = 1;
  EXPECT_TRUE(run.program.WaitExit(&exitCode));
  DeleteFileW(journal.c_str());
}

TEST(TagsmithGui, AFailedGiveBackIsToldAfterTheResult) {
  for (const wchar_t* fault : {L"KIT_FAKE_SPOOLER_LOCKED", L"KIT_FAKE_SPOOLER_STUCK"}) {
    SCOPED_TRACE(gui::Narrow(fault));
    GiveBackFailsWith(fault);
  }
}

TEST(TagsmithGui, SecondStartShowsTheFirstWithoutAMessage) {
  TagsmithRun first(L"tagsmith-once");
  ASSERT_TRUE(first.Prepare(ComSettings())) << LastError();
  // A command line only hides the window; nothing runs by itself.
  ASSERT_TRUE(first.program.Start(first.folder / L"Tagsmith.exe", L"anything")) << LastError();
  HWND hidden = nullptr;
  ASSERT_TRUE(gui::WaitUntil([&] {
    std::vector<HWND> all = gui::TopWindows(first.program.pid(), L"Tagsmith", L"Tagsmith", true);
    hidden = all.empty() ? nullptr : all[0];
    return hidden != nullptr;
  }));
  EXPECT_FALSE(IsWindowVisible(hidden));

  gui::Program second;
  ASSERT_TRUE(second.Start(first.folder / L"Tagsmith.exe")) << LastError();
  DWORD exitCode = 1;
  ASSERT_TRUE(second.WaitExit(&exitCode)) << "the second copy did not end (a message box?)";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(gui::WaitUntil([&] { return IsWindowVisible(hidden) != FALSE; })) << "the first copy stayed hidden";
  EXPECT_TRUE(gui::MessageBoxes(first.program.pid()).empty());
  EXPECT_EQ(gui::TopWindows(0, L"Tagsmith", L"Tagsmith").size(), 1u);
}

// Stands in for Romsmith's main window: the class and title Tagsmith looks
// for, and a record of the commands it receives.
std::vector<WORD> g_romsmithCommands;

LRESULT CALLBACK RomsmithStandIn(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) g_romsmithCommands.push_back(LOWORD(wParam));
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(TagsmithGui, ExitCommandEndsTagsmithAndHandsOverToRomsmith) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = RomsmithStandIn;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Romsmith";
  ASSERT_NE(RegisterClassW(&windowClass), 0);
  HWND romsmith = CreateWindowExW(0, L"Romsmith", L"Romsmith", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(romsmith, nullptr);
  ShowWindow(romsmith, SW_MINIMIZE);

  TagsmithRun run(L"tagsmith-exit");
  ASSERT_TRUE(run.Prepare(ComSettings())) << LastError();
  const std::string settings = FileBytes(run.folder / L"Romsmith.ini");
  ASSERT_TRUE(run.Start()) << LastError();
  // What Romsmith does when it ends.
  PostMessageW(run.window, WM_COMMAND, IDC_EXIT, 0);
  // Restoring the stand-in waits for this thread: it pumps like Romsmith's loop.
  bool told = gui::WaitUntil([&] {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return !g_romsmithCommands.empty();
  });
  ASSERT_TRUE(told) << "Romsmith received no command";
  DWORD exitCode = 1;
  ASSERT_TRUE(run.program.WaitExit(&exitCode));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(g_romsmithCommands[0], IDC_ROMSMITH_TAGSMITH_RETURN);
  EXPECT_FALSE(IsIconic(romsmith)) << "Romsmith was not restored";
  EXPECT_EQ(FileBytes(run.folder / L"Romsmith.ini"), settings) << "Tagsmith saved the settings";
  DestroyWindow(romsmith);
}

TEST(TagsmithGui, ExitDuringAnOperationWaitsForItsResult) {
  // A write waits two seconds before its read-back has an answer: time for
  // Romsmith's Exit to arrive.
  ASSERT_EQ(SimCommand("com reset"), "OK");
  TagsmithRun run(L"tagsmith-busy-exit");
  ASSERT_TRUE(run.Prepare(ComSettings())) << LastError();
  ASSERT_TRUE(run.Start()) << LastError();
  ASSERT_TRUE(gui::TypeChars(run.window, IDC_SERIAL_INPUT, L"000456")) << LastError();
  ASSERT_TRUE(gui::Click(run.window, IDC_WRITE_SERIAL)) << LastError();
  ASSERT_TRUE(gui::Answer(run.program.pid(), Message(12), IDOK)) << LastError();
  ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindowEnabled(run.window); }));
  PostMessageW(run.window, WM_COMMAND, IDC_EXIT, 0);
  EXPECT_TRUE(gui::Answer(run.program.pid(), Message(14), IDOK)) << LastError();
  DWORD exitCode = 1;
  ASSERT_TRUE(run.program.WaitExit(&exitCode)) << "the Exit was lost";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(SimCommand("com serial"), "OK 000456");
}

}  // namespace
