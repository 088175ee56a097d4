// The fault matrix: every printer operation of both programs against every
// fault the printer simulator can play, on COM and on LAN, driven through the
// real windows as an operator would. Each cell records what the operator
// saw and whether the program came through whole; the table is written as
// Markdown and the run fails on any bad cell.
//   fault_matrix [--quick | --faults NAME[,NAME...]] OUTPUT.md
// --quick runs a handful of representative cells (the test run's subset);
// --faults the cells of the faults named (for checking a change to them).
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/message_catalog.h"
#include "core/spooler_journal.h"
#include "romsmith/resource.h"
#include "tagsmith/resource.h"
#include "tests/gui/romsmith_session.h"
#include "tests/win/sim_client.h"
#include "tools/gui_driver.h"

namespace {

constexpr size_t kFirmwareBytes = 32 * 1024;
// A printer that stops reading is only noticed once the socket buffers on
// both sides are full: its firmware is bigger than they can hold (a Linux
// send buffer, under Wine, grows to 4 MB).
constexpr size_t kStallFirmwareBytes = 8 * 1024 * 1024;
constexpr int kStallReceiveBuffer = 8192;
// A printer that reads again takes the rest of the 8 MB quickly through a
// window of this size, which still lets the buffers fill while it pauses.
constexpr int kPauseReceiveBuffer = 65536;
// The printer that gives up part way reads 150 KB a second, so that most of
// a 300 KB firmware still waits on the sender's side when it stops.
constexpr size_t kPartWayFirmwareBytes = 307200;
constexpr int kPartWayRate = 153600;
constexpr const wchar_t kSerialWritten[] = L"MX4711";
// Above the longest wait the programs allow themselves for one exchange: a
// LAN write to a printer that stopped reading is given what a USB printer
// gets for the same block (for the stalled printer's 8 MB 166 s a chunk)
// and gives up within about three and a half minutes, a command exchange
// within well under one.
constexpr DWORD kWriteLimitMs = 300000;
constexpr DWORD kCommandLimitMs = 90000;
constexpr DWORD kExitLimitMs = 30000;

enum class Op { kWrite, kGetVersion, kReset, kSerialRead, kSerialWrite };

struct OpInfo {
  Op op;
  const char* program;
  const char* name;
};
const OpInfo kOps[] = {{Op::kWrite, "Romsmith", "Start writing"},
                       {Op::kGetVersion, "Romsmith", "Get Version"},
                       {Op::kReset, "Romsmith", "Reset Printer"},
                       {Op::kSerialRead, "Tagsmith", "Get Serial Number"},
                       {Op::kSerialWrite, "Tagsmith", "Write serial number"}};

struct Fault {
  const char* name;
  const char* comWhy;  // why the fault has no COM cell (null: it has one)
  const char* lanWhy;  // the same for LAN
};
const Fault kFaults[] = {
    {"none", nullptr, nullptr},
    {"silent", nullptr, nullptr},
    {"wrong_header", nullptr, nullptr},
    {"split", nullptr, nullptr},
    {"no_nul", nullptr, nullptr},
    {"slow", nullptr, nullptr},
    {"drop", nullptr, nullptr},
    {"stall", "the COM printer has no stall mode: a printer that reads slowly is the slow fault", nullptr},
    {"never_answer", "a status port that never answers exists only on LAN", nullptr},
    {"close_at_once", "a serial line has no connection to close", nullptr},
    {"close_after", "a serial line has no connection to close", nullptr},
    {"pause", "the COM printer has no pause mode: a printer that reads slowly is the slow fault", nullptr},
    {"fin_reset", "a serial line has no connection to close", nullptr},
    {"chatty", "the device that talks unasked sits on a network printer's raw data port", nullptr},
    {"dsr",
     "Wine reports no DSR line state, so a held DSR cannot reach the program here (the port tests fake the line "
     "state to check the ready check)",
     "LAN has no DSR line"},
};

struct CellKey {
  Op op;
  bool lan;
  const char* fault;
};

// Representative cells for the test run: both programs, both ports, the
// faults that cut an exchange short or stop it. A LAN printer that drops the
// connection halfway through the firmware was once reported as written, and
// one that closed its side after taking the whole firmware as failed, and a
// device that talks unasked once froze Get Version for good.
const CellKey kQuick[] = {
    {Op::kWrite, false, "drop"},          {Op::kWrite, true, "drop"},          {Op::kWrite, true, "close_after"},
    {Op::kGetVersion, true, "silent"},    {Op::kGetVersion, true, "chatty"},
    {Op::kReset, false, "wrong_header"},  {Op::kSerialRead, true, "no_nul"},   {Op::kSerialWrite, false, "drop"},
    {Op::kSerialWrite, true, "close_at_once"}, {Op::kWrite, true, "fin_reset"},
};

struct Cell {
  std::string message = "-";
  std::string code = "-";
  double seconds = -1;
  std::string usable = "-";
  std::string restored = "-";
  std::string ended = "-";
  std::vector<std::string> bad;
};

// Seconds on the tick count: the table shows tenths.
double Now() { return static_cast<double>(GetTickCount64()) / 1000.0; }

std::string FirstLine(const std::wstring& text) { return gui::Narrow(text.substr(0, text.find(L'\n'))); }

std::string Target(bool lan) { return lan ? SimHost(2) : "com"; }

// A printer that stops reading, for good or for a while, is only noticed
// with more firmware than the buffers hold.
bool StopsReading(const std::string& fault) { return fault == "stall" || fault == "pause"; }

size_t FirmwareBytes(const std::string& fault) {
  if (fault == "fin_reset") return kPartWayFirmwareBytes;
  return StopsReading(fault) ? kStallFirmwareBytes : kFirmwareBytes;
}

// The simulator's argument for the fault: a drop cuts a firmware block in
// half and a command after its first bytes; close_after closes once the
// whole firmware is in (a command: after the first read); the slow reader
// takes the firmware in about four seconds; the pause (after the first
// read) outlasts the 40 to 80 s that once ended a LAN write; the printer
// that gives up does so a third of the way into the firmware (a command: at
// once), reading at the pace of a slow printer (kPartWayRate).
int FaultArg(const std::string& fault, Op op) {
  if (fault == "fin_reset") return op == Op::kWrite ? static_cast<int>(FirmwareBytes(fault) / 3) : 0;
  if (fault == "drop") return op == Op::kWrite ? static_cast<int>(FirmwareBytes(fault) / 2) : 4;
  if (fault == "close_after") return op == Op::kWrite ? static_cast<int>(FirmwareBytes(fault)) : 0;
  if (fault == "slow") return 8000;
  if (fault == "pause") return 90000;
  return 0;
}

// The last result-code name in the debug log lines (for example
// "PRT_ERR_SEND"), or "-" when no error was logged. A receive that got
// nothing is logged without its code's name.
std::string LoggedCode(const std::vector<std::string>& lines) {
  std::string code = "-";
  for (const std::string& line : lines) {
    if (line == "PrinterReceiveData NoData") code = "PRT_ERR_NOREPLY";
    for (const char* prefix : {"PRT_ERR_", "FILE_ERR_"}) {
      size_t at = line.rfind(prefix);
      if (at == std::string::npos) continue;
      size_t end = at;
      while (end < line.size() && (isupper(static_cast<unsigned char>(line[end])) || line[end] == '_')) ++end;
      code = line.substr(at, end - at);
    }
  }
  return code;
}

bool JournalEmpty() {
  std::wstring path = SpoolerJournalPath();
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return true;
  return data.nFileSizeLow == 0 && data.nFileSizeHigh == 0;
}

// One program under test: what the common checks after the operation need.
struct Running {
  gui::Program* program;
  HWND main;
  int button;  // the operation's button, enabled again when idle
  std::function<bool(std::string*)> spoolerRestored;
};

// Waits for the operation's outcome: a message box of the program (its text
// recorded and answered) or `done`. False on a crash or when the limit passed.
bool WaitOutcome(const Running& run, DWORD limitMs, const std::function<bool()>& done, Cell* cell,
                 gui::MessageBoxSeen* box, double start) {
  bool boxShown = false;
  bool finished = gui::WaitUntil(
      [&] {
        if (!run.program->Running()) return true;
        std::vector<gui::MessageBoxSeen> boxes = gui::MessageBoxes(run.program->pid());
        if (!boxes.empty()) {
          *box = boxes[0];
          boxShown = true;
          return true;
        }
        return done();
      },
      limitMs);
  cell->seconds = Now() - start;
  if (!run.program->Running()) {
    DWORD code = 0;
    run.program->WaitExit(&code, 0);
    cell->bad.push_back("the program ended during the operation (code " + std::to_string(code) + ")");
    return false;
  }
  if (!finished) {
    cell->bad.push_back("nothing shown within " + std::to_string(limitMs / 1000) + " s");
    return false;
  }
  if (boxShown) cell->message = FirstLine(box->text);
  return true;
}

// After the outcome: the window idle with the operation's button enabled,
// the printers back on their ports, then Exit and a clean end.
void CheckAfter(const Running& run, Cell* cell) {
  bool usable = gui::WaitUntil(
      [&] {
        return IsWindowEnabled(run.main) && gui::MessageBoxes(run.program->pid()).empty() &&
               gui::ControlEnabled(run.main, run.button);
      },
      10000);
  cell->usable = usable ? "yes" : "no";
  if (!usable) cell->bad.push_back("the window stayed unusable");

  std::string why;
  bool restored = JournalEmpty();
  if (!restored) why = "the port journal still holds printers";
  if (run.spoolerRestored && !run.spoolerRestored(&why)) restored = false;
  cell->restored = restored ? "yes" : "no";
  if (!restored) cell->bad.push_back(why);

  if (!usable || !gui::Click(run.main, IDC_EXIT)) {
    cell->ended = "killed";
    cell->bad.push_back("Exit could not be pressed");
    return;
  }
  double start = Now();
  DWORD code = 0;
  if (!run.program->WaitExit(&code, kExitLimitMs)) {
    cell->ended = "no";
    cell->bad.push_back("still running " + std::to_string(kExitLimitMs / 1000) + " s after Exit");
    return;
  }
  char text[64];
  snprintf(text, sizeof(text), "code %lu, %.1f s", static_cast<unsigned long>(code), Now() - start);
  cell->ended = text;
  if (code != 0) cell->bad.push_back("ended with code " + std::to_string(code));
}

void Fail(Cell* cell, const std::string& what) { cell->bad.push_back(what + ": " + gui::LastError()); }

// Prints the end of a bad cell's debug log, for whoever looks into it, when
// the cell is over (before its program folder goes).
struct LogTailOnBad {
  const Cell& cell;
  const gui::ProgramFolder& folder;
  ~LogTailOnBad() {
    if (cell.bad.empty()) return;
    std::vector<std::string> log = folder.LogLines();
    for (size_t i = log.size() > 40 ? log.size() - 40 : 0; i < log.size(); ++i) printf("    log: %s\n", log[i].c_str());
  }
};

void RunRomsmith(Op op, bool lan, const std::string& fault, Cell* cell) {
  RomsmithSession s(L"fault-matrix");
  LogTailOnBad logTail{*cell, s.folder};
  RomsmithSetup setup;
  setup.kind = lan ? L"LAN" : L"COM";
  if (lan) setup.lanPrinters = {2};
  if (op == Op::kWrite) {
    setup.firmwareName = L"fw.hex";
    setup.firmwareBytes = FirmwareBytes(fault);
  } else {
    setup.updateMode = true;
  }
  const int button = op == Op::kWrite ? IDC_START_WRITING : op == Op::kGetVersion ? IDC_GET_VERSION : IDC_RESET_PRINTER;
  if (!s.Prepare(setup)) return Fail(cell, "prepare");
  if (!s.Start()) return Fail(cell, "start");
  if (!gui::WaitUntil([&] { return gui::ControlEnabled(s.main, button); })) return Fail(cell, "button");
  s.NewLogLines();
  Running run{&s.program, s.main, button, [&](std::string* why) {
                int switches = 0;
                return s.SpoolerRestored(&switches, why);
              }};
  if (!gui::Click(s.main, button)) return Fail(cell, "click");
  bool confirmed = op == Op::kWrite ? s.Confirm(IDOK)
                                    : gui::Answer(s.pid(), Message(op == Op::kGetVersion ? 10 : 8, kEnglish), IDOK);
  if (!confirmed) return Fail(cell, "confirmation");
  const double start = Now();

  HWND progress = nullptr;
  std::vector<std::string> log;
  auto done = [&]() -> bool {
    if (op == Op::kWrite) {
      if (!progress) progress = s.WaitProgressDialog(0);
      return progress && gui::ControlVisible(progress, IDC_PROGRESS_CLOSING) &&
             gui::ControlEnabled(progress, IDC_PROGRESS_OK);
    }
    if (!IsWindowEnabled(s.main)) return false;
    if (op == Op::kGetVersion) return !gui::ControlText(s.main, IDC_VERSION_RESULT).empty();
    std::vector<std::string> fresh = s.NewLogLines();
    log.insert(log.end(), fresh.begin(), fresh.end());
    for (const std::string& line : log) {
      if (line == "SendPrinter End") return true;
    }
    return false;
  };
  gui::MessageBoxSeen box;
  bool outcome = WaitOutcome(run, op == Op::kWrite ? kWriteLimitMs : kCommandLimitMs, done, cell, &box, start);
  std::vector<std::string> fresh = s.NewLogLines();
  log.insert(log.end(), fresh.begin(), fresh.end());
  cell->code = LoggedCode(log);
  if (!outcome) return;

  if (box.box) {
    gui::PressBoxButton(box, IDOK);
    if (progress || (progress = s.WaitProgressDialog(0)) != nullptr) {
      gui::WaitUntil([&] { return !IsWindow(progress); }, 10000);
    }
  } else if (op == Op::kWrite) {
    cell->message = FirstLine(gui::ControlText(progress, IDC_PROGRESS_CLOSING));
    cell->code = "0";
    std::string why;
    if (!s.ReceivedFirmware(lan ? 2 : 0, &why)) cell->bad.push_back("success shown for a write: " + why);
    if (!s.ConfirmClosingMessages(progress)) cell->bad.push_back("closing messages: " + gui::LastError());
  } else if (op == Op::kGetVersion) {
    cell->message = "(version shown:" + gui::Narrow(gui::ControlText(s.main, IDC_VERSION_RESULT)) + ")";
    cell->code = "0";
  } else {
    cell->message = "(no message: reset sent)";
    cell->code = "0";
  }
  CheckAfter(run, cell);
}

void RunTagsmith(Op op, bool lan, Cell* cell) {
  gui::ProgramFolder folder(gui::TempFolderPath(L"fault-matrix-tag"));
  LogTailOnBad logTail{*cell, folder};
  std::vector<gui::IniKey> settings = {{L"Language", L"Country", L"English"},
                                       {L"Port", L"Connected", lan ? L"LAN" : L"COM"},
                                       {L"Port", L"PortCOM", kSimComName},
                                       {L"Port", L"PortLAN", L"Port001"},
                                       {L"IPAddress", L"Port001", L"1,KM-510," + SimAddress(2) + L",00:11:22:33:44:52"}};
  if (!folder.Copy(TAGSMITH_EXE) || !folder.Copy(LANQUAY_DLL) || !folder.EnableLog() ||
      !folder.WriteSettings(settings)) {
    return Fail(cell, "prepare");
  }
  gui::Program program;
  if (!program.Start(folder / L"Tagsmith.exe")) return Fail(cell, "start");
  HWND window = gui::WaitTopWindow(program.pid(), L"Tagsmith", L"Tagsmith");
  if (!window) return Fail(cell, "window");
  const bool write = op == Op::kSerialWrite;
  const int button = write ? IDC_WRITE_SERIAL : IDC_GET_SERIAL;
  if (write && !gui::SetText(program.pid(), window, IDC_SERIAL_INPUT, kSerialWritten)) return Fail(cell, "serial box");
  Running run{&program, window, button, nullptr};
  if (!gui::Click(window, button)) return Fail(cell, "click");
  if (!gui::Answer(program.pid(), CatalogueText(CatalogueOwner::kTagsmith, write ? 12 : 11, kEnglish), IDOK)) {
    return Fail(cell, "confirmation");
  }
  const double start = Now();
  auto done = [&] { return !write && IsWindowEnabled(window) && !gui::ControlText(window, IDC_SERIAL_READ).empty(); };
  gui::MessageBoxSeen box;
  bool outcome = WaitOutcome(run, kCommandLimitMs, done, cell, &box, start);
  cell->code = LoggedCode(folder.LogLines());
  if (!outcome) return;
  if (box.box) {
    gui::PressBoxButton(box, IDOK);
    if (write && box.text == CatalogueText(CatalogueOwner::kTagsmith, 14, kEnglish)) {
      cell->code = "0";
      const std::string held = SimCommand(Target(lan) + " serial");
      if (held != "OK " + gui::Narrow(kSerialWritten)) cell->bad.push_back("success shown, the printer holds " + held);
    }
  } else {
    cell->message = "(serial number shown:" + gui::Narrow(gui::ControlText(window, IDC_SERIAL_READ)) + ")";
    cell->code = "0";
  }
  CheckAfter(run, cell);
}

Cell RunCell(Op op, bool lan, const std::string& fault) {
  Cell cell;
  const std::string target = Target(lan);
  if (!ResetSimulator() || SimCommand(target + " set fault " + fault) != "OK" ||
      SimCommand(target + " set arg " + std::to_string(FaultArg(fault, op))) != "OK" ||
      (lan && fault == "fin_reset" &&
       (SimCommand(target + " set rate " + std::to_string(kPartWayRate)) != "OK" ||
        SimCommand(target + " set rcvbuf 32768") != "OK")) ||
      (lan && StopsReading(fault) &&
       SimCommand(target + " set rcvbuf " + std::to_string(fault == "pause" ? kPauseReceiveBuffer : kStallReceiveBuffer)) !=
           "OK")) {
    cell.bad.push_back("the simulator did not take the fault");
    return cell;
  }
  if (op == Op::kSerialRead || op == Op::kSerialWrite) {
    RunTagsmith(op, lan, &cell);
  } else {
    RunRomsmith(op, lan, fault, &cell);
  }
  // A stalled printer reads what was left in its buffers once the fault is
  // gone: let that arrive here, not in the next cell's printer.
  ResetSimulator();
  std::string seen = SimCommand(target + " count");
  for (int settled = 0, polls = 0; settled < 5 && polls < 50; ++polls) {
    Sleep(100);
    std::string now = SimCommand(target + " count");
    settled = now == seen ? settled + 1 : 0;
    seen = now;
  }
  return cell;
}

std::string Escaped(std::string text) {
  for (size_t at = 0; (at = text.find('|', at)) != std::string::npos; at += 2) text.replace(at, 1, "\\|");
  return text;
}

bool Chosen(bool quick, const std::string& faults, Op op, bool lan, const char* fault) {
  if (!faults.empty()) return ("," + faults + ",").find("," + std::string(fault) + ",") != std::string::npos;
  if (!quick) return true;
  for (const CellKey& key : kQuick) {
    if (key.op == op && key.lan == lan && std::string(key.fault) == fault) return true;
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool quick = argc == 3 && std::wstring(argv[1]) == L"--quick";
  const bool some = argc == 4 && std::wstring(argv[1]) == L"--faults";
  if (argc != 2 && !quick && !some) {
    fprintf(stderr, "usage: fault_matrix [--quick | --faults NAME[,NAME...]] OUTPUT.md\n");
    return 2;
  }
  const std::string faults = some ? gui::Narrow(argv[2]) : "";
  // A path of the Unix side (from CTest) names drive Z: under Wine.
  std::wstring path = argv[argc - 1];
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  FILE* out = _wfopen(path.c_str(), L"w");
  if (!out) {
    fprintf(stderr, "fault_matrix: cannot write the table\n");
    return 2;
  }
  fprintf(out,
          "| Program | Operation | Port | Fault | Message shown | Result code | Time to message | Window usable "
          "| Printers back | Ended cleanly | Cell |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
  int bad = 0;
  int cells = 0;
  for (const OpInfo& op : kOps) {
    for (bool lan : {false, true}) {
      for (const Fault& fault : kFaults) {
        if (!Chosen(quick, faults, op.op, lan, fault.name)) continue;
        const char* port = lan ? "LAN" : "COM";
        const char* why = lan ? fault.lanWhy : fault.comWhy;
        if (why) {
          fprintf(out, "| %s | %s | %s | %s | n/a: %s | | | | | | n/a |\n", op.program, op.name, port, fault.name, why);
          continue;
        }
        Cell cell = RunCell(op.op, lan, fault.name);
        ++cells;
        std::string verdict = cell.bad.empty() ? "ok" : "BAD";
        for (const std::string& what : cell.bad) verdict += ": " + what;
        if (!cell.bad.empty()) ++bad;
        char seconds[32] = "-";
        if (cell.seconds >= 0) snprintf(seconds, sizeof(seconds), "%.1f s", cell.seconds);
        fprintf(out, "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", op.program, op.name, port,
                fault.name, Escaped(cell.message).c_str(), cell.code.c_str(), seconds, cell.usable.c_str(),
                cell.restored.c_str(), cell.ended.c_str(), Escaped(verdict).c_str());
        fflush(out);
        printf("%-8s %-19s %s %-13s %5s  %s  %s\n", op.program, op.name, port, fault.name, seconds,
               cell.message.c_str(), verdict.c_str());
        fflush(stdout);
      }
    }
  }
  fclose(out);
  printf("%d passed, %d failed\n", cells - bad, bad);
  return bad == 0 ? 0 : 1;
}
