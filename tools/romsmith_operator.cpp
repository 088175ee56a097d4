// The operator of the demo, the screenshot script and the benchmark: runs
// Romsmith in a program folder and answers its windows as a person would.
//   romsmith_operator prepare FOLDER ROMSMITH LANQUAY TYPE KIND LANGUAGE [ADDRESS...]
//       a program folder with the program, lanquay and Romsmith.ini (TYPE
//       PowerOn or Online, KIND USB/COM/LPT/LAN, LANGUAGE Japan or English,
//       the addresses as the LAN printer list; with ROMSMITH_PARALLEL set in
//       the environment, [LAN_SEND] Parallel of that value)
//   romsmith_operator write FOLDER FIRMWARE [PICTURES]
//       an automatic run on FIRMWARE: confirms, waits for the end of the
//       write, confirms both closing messages; prints the time of each stage
//       and the exit code, and the processor time Romsmith used from the
//       confirmation to the POWER-lamp message; exits with Romsmith's code
//   romsmith_operator start FOLDER
//       starts Romsmith from a folder as shipped (no settings file yet),
//       confirms the start-up notice and leaves with Exit
//   romsmith_operator command FOLDER version|reset
//       Get Version (the selected LAN printer) or Reset Printer (every
//       printer of the LAN list) from the main window: confirms, waits for
//       the result and prints the time from the confirmation to it, then Exit
//   romsmith_operator tour FOLDER FIRMWARE PICTURES
//       an interactive run for the screenshots: the main window in each port
//       kind, the LAN list sorted by address, then a write to the LAN list
//       with its progress dialog
//   romsmith_operator soak FOLDER FIRMWARE WRITES VERSIONS
//       one Romsmith session: Start writing of FIRMWARE to the LAN list
//       WRITES times (each printer of the simulator must have received the
//       file), then Get Version on COM5 VERSIONS times (none when 0); prints
//       a table of the time per run and the process's handles, threads, GDI
//       and USER objects
//       and private bytes per 50 runs, and exits with 0 when the last 50
//       runs show no growth over the first 50
// Pictures are saved as BMP files; the scripts convert them.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "tests/gui/list_view_probe.h"
#include "tests/win/message_box_driver.h"
#include "tests/win/sim_client.h"
#include "tools/gui_driver.h"
#include "tools/process_figures.h"

namespace {

constexpr int kFileName = 1021;
constexpr int kVersionResult = 1031;
constexpr int kKindCom = 1042;
constexpr int kLanList = 1073;
constexpr int kGetVersion = 520;
constexpr int kResetPrinter = 530;
constexpr int kStartWriting = 532;
constexpr int kExit = 533;
constexpr int kProgressOk = 700;
constexpr int kProgressBytes = 1101;
constexpr int kProgressBar = 1102;
constexpr int kProgressClosing = 1106;
// Simulated printers a soak resets before its first run (its lists use them from the second address on).
constexpr int kSoakPrinters = 20;

double Seconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Fail(const char* what) {
  fprintf(stderr, "operator: %s: %s\n", what, gui::LastError().c_str());
  return 100;
}

void Picture(const std::wstring& folder, HWND window, const wchar_t* name) {
  if (!folder.empty() && window) SaveWindowPicture(window, (folder + L"\\" + name + L".bmp").c_str());
}

std::string FirstLine(const std::wstring& text) { return gui::Narrow(text.substr(0, text.find(L'\n'))); }

HWND WaitProgressDialog(DWORD pid) {
  HWND found = nullptr;
  gui::WaitUntil([&] {
    for (HWND w : gui::TopWindows(pid, L"#32770", nullptr)) {
      if (GetDlgItem(w, kProgressBar)) found = w;
    }
    return found != nullptr;
  });
  return found;
}

// From the open progress dialog to its end: a picture while the bytes go
// out, the failure box or both closing messages. Returns false on failure.
bool FollowWrite(DWORD pid, HWND progress, const std::wstring& pictures, double* powerLampAt,
                 const std::function<void()>& atPowerLamp = nullptr) {
  if (!pictures.empty()) {
    // Best effort: a fast printer may be done before a mid-way picture.
    gui::WaitUntil([&] {
      std::wstring bytes = gui::ControlText(progress, kProgressBytes);
      return bytes.find(L"\n") != std::wstring::npos && bytes.find(L"\n0 %") == std::wstring::npos;
    }, 20000);
    Picture(pictures, progress, L"progress_writing");
  }
  bool failed = false;
  gui::WaitUntil([&] {
    failed = !gui::MessageBoxes(pid).empty();
    return failed || gui::ControlEnabled(progress, kProgressOk);
  }, 15 * 60 * 1000);
  *powerLampAt = Seconds();
  if (atPowerLamp) atPowerLamp();
  if (failed) {
    gui::MessageBoxSeen box = gui::MessageBoxes(pid).front();
    printf("Romsmith reported: %s\n", FirstLine(box.text).c_str());
    Picture(pictures, box.box, L"progress_error");
    gui::PressBoxButton(box, IDOK);
    return false;
  }
  HWND ok = GetDlgItem(progress, kProgressOk);
  gui::WaitUntil([&] { return gui::FocusOf(progress) == ok; }, 10000);
  Picture(pictures, progress, L"progress_power_lamp");
  // The first OK as the Enter key, which the program's keyboard hook turns
  // into the button's command.
  std::wstring lamp = gui::ControlText(progress, kProgressClosing);
  // In Update mode the versions are read again before the done text: OK
  // stays disabled meanwhile.
  if (!gui::PressKey(progress, VK_RETURN) || !gui::WaitUntil([&] {
        return gui::ControlText(progress, kProgressClosing) != lamp && gui::ControlEnabled(progress, kProgressOk);
      }, 60000)) {
    fprintf(stderr, "operator: Enter did not confirm the POWER lamp message: %s\n", gui::LastError().c_str());
    return false;
  }
  Picture(pictures, progress, L"progress_done");
  gui::Click(progress, kProgressOk);
  return gui::WaitUntil([&] { return !IsWindow(progress); });
}

int Prepare(int argc, wchar_t** argv) {
  if (argc < 8) return Fail("prepare needs FOLDER ROMSMITH LANQUAY TYPE KIND LANGUAGE");
  gui::ProgramFolder folder(argv[2], true);
  std::string romsmith = gui::Narrow(argv[3]);
  std::string lanquay = gui::Narrow(argv[4]);
  if (!folder.Copy(romsmith.c_str(), L"Romsmith.exe") || !folder.Copy(lanquay.c_str(), L"lanquay.dll")) {
    return Fail("copy");
  }
  std::vector<gui::IniKey> keys = {
      {L"File", L"Type", argv[5]},      {L"Language", L"Country", argv[7]}, {L"Port", L"Connected", argv[6]},
      {L"Port", L"PortCOM", L"COM5"},   {L"Port", L"PortLAN", L"Port001"},  {L"INIT_MSG", L"Mode", L"OFF"},
  };
  for (int i = 8; i < argc; ++i) {
    wchar_t key[16];
    wchar_t value[128];
    swprintf(key, 16, L"Port%03d", i - 7);
    swprintf(value, 128, L"1,KM-510,%ls,00:11:22:33:44:%02d", argv[i], i - 6);
    keys.push_back({L"IPAddress", key, value});
  }
  const wchar_t* parallel = _wgetenv(L"ROMSMITH_PARALLEL");
  if (parallel && *parallel) keys.push_back({L"LAN_SEND", L"Parallel", parallel});
  if (!folder.EnableLog() || !folder.WriteSettings(keys)) return Fail("settings");
  return 0;
}

int Write(int argc, wchar_t** argv) {
  if (argc < 4) return Fail("write needs FOLDER FIRMWARE");
  std::wstring folder = argv[2];
  std::wstring pictures = argc > 4 ? argv[4] : L"";
  gui::Program romsmith;
  const double started = Seconds();
  if (!romsmith.Start(folder + L"\\Romsmith.exe", argv[3])) return Fail("start");
  gui::MessageBoxSeen box;
  if (!gui::WaitMessageBox(romsmith.pid(), &box)) return Fail("confirmation");
  const double asked = Seconds();
  printf("Romsmith asked: %s\n", FirstLine(box.text).c_str());
  Picture(pictures, box.box, L"confirmation");
  bool written = false;
  double confirmed = asked;
  double powerLamp = asked;
  if (box.cancelButton) {  // the confirmation; any other box ends the run with its OK
    const std::wstring exe = folder + L"\\Romsmith.exe";
    const double cpuAtConfirmation = soak::ProcessorSeconds(romsmith.pid(), exe);
    if (!gui::PressBoxButton(box, IDOK)) return Fail("confirm");
    confirmed = Seconds();
    HWND progress = WaitProgressDialog(romsmith.pid());
    if (!progress) return Fail("progress dialog");
    written = FollowWrite(romsmith.pid(), progress, pictures, &powerLamp, [&] {
      std::string source;
      const double cpu = soak::ProcessorSeconds(romsmith.pid(), exe, &source);
      if (cpu >= 0 && cpuAtConfirmation >= 0) {
        printf("processor: %.3f s from the confirmation to the POWER lamp (%s)\n", cpu - cpuAtConfirmation,
               source.c_str());
      }
    });
  } else {
    gui::PressBoxButton(box, IDOK);
  }
  const double closed = Seconds();
  DWORD code = 0;
  if (!romsmith.WaitExit(&code)) return Fail("end");
  const double ended = Seconds();
  printf("operator: %s\n", written ? "confirmed the POWER lamp and the end of writing" : "the write did not finish");
  printf("timing: start-up %.3f s, confirmed to POWER lamp %.3f s, last OK to exit %.3f s\n", asked - started,
         powerLamp - confirmed, ended - closed);
  printf("Romsmith exit code: %lu\n", static_cast<unsigned long>(code));
  return static_cast<int>(code);
}

int StartAndExit(int argc, wchar_t** argv) {
  if (argc < 3) return Fail("start needs FOLDER");
  gui::Program romsmith;
  if (!romsmith.Start(std::wstring(argv[2]) + L"\\Romsmith.exe")) return Fail("start");
  HWND main = gui::WaitTopWindow(romsmith.pid(), L"Romsmith", L"Romsmith");
  gui::MessageBoxSeen notice;
  if (!main || !gui::WaitMessageBox(romsmith.pid(), &notice)) return Fail("main window and start-up notice");
  printf("Romsmith started and showed: %s\n", FirstLine(notice.text).c_str());
  if (!gui::PressBoxButton(notice, IDOK) || !gui::Click(main, kExit)) return Fail("exit");
  DWORD code = 0;
  if (!romsmith.WaitExit(&code)) return Fail("end");
  printf("Romsmith exit code: %lu\n", static_cast<unsigned long>(code));
  return static_cast<int>(code);
}

int Command(int argc, wchar_t** argv) {
  if (argc < 4) return Fail("command needs FOLDER version|reset");
  const bool version = std::wstring(argv[3]) == L"version";
  const int button = version ? kGetVersion : kResetPrinter;
  gui::Program romsmith;
  if (!romsmith.Start(std::wstring(argv[2]) + L"\\Romsmith.exe")) return Fail("start");
  HWND main = gui::WaitTopWindow(romsmith.pid(), L"Romsmith", L"Romsmith");
  if (!main || !gui::WaitUntil([&] { return gui::ControlEnabled(main, button); })) return Fail("main window");
  gui::MessageBoxSeen box;
  if (!gui::Click(main, button) || !gui::WaitMessageBox(romsmith.pid(), &box) || !gui::PressBoxButton(box, IDOK)) {
    return Fail("confirmation");
  }
  const double confirmed = Seconds();
  bool failed = false;
  gui::WaitUntil([&] {
    failed = !gui::MessageBoxes(romsmith.pid()).empty();
    if (failed) return true;
    if (!IsWindowEnabled(main) || !gui::ControlEnabled(main, button)) return false;
    return !version || !gui::ControlText(main, kVersionResult).empty();
  }, 15 * 60 * 1000);
  const double done = Seconds();
  if (failed) {
    gui::MessageBoxSeen shown = gui::MessageBoxes(romsmith.pid()).front();
    printf("Romsmith reported: %s\n", FirstLine(shown.text).c_str());
    gui::PressBoxButton(shown, IDOK);
  } else if (version) {
    printf("version shown:%s\n", gui::Narrow(gui::ControlText(main, kVersionResult)).c_str());
  }
  printf("timing: confirmed to result %.3f s\n", done - confirmed);
  gui::WaitUntil([&] { return IsWindowEnabled(main) && gui::MessageBoxes(romsmith.pid()).empty(); });
  if (!gui::Click(main, kExit)) return Fail("exit");
  DWORD code = 0;
  if (!romsmith.WaitExit(&code)) return Fail("end");
  return failed ? 1 : 0;
}

int Tour(int argc, wchar_t** argv) {
  if (argc < 5) return Fail("tour needs FOLDER FIRMWARE PICTURES");
  std::wstring folder = argv[2];
  std::wstring pictures = argv[4];
  gui::Program romsmith;
  if (!romsmith.Start(folder + L"\\Romsmith.exe")) return Fail("start");
  HWND main = gui::WaitTopWindow(romsmith.pid(), L"Romsmith", L"Romsmith");
  if (!main) return Fail("main window");
  if (!gui::SetText(romsmith.pid(), main, 1021, argv[3])) return Fail("file name");
  const struct {
    int radio;
    const wchar_t* name;
  } kinds[] = {{1041, L"main_usb"}, {1042, L"main_com"}, {1043, L"main_lpt"}, {1044, L"main_lan"}};
  for (const auto& kind : kinds) {
    if (!gui::Click(main, kind.radio)) return Fail("port kind");
    gui::WaitUntil([&] { return gui::ControlChecked(main, kind.radio); });
    // The kind's controls are shown after the check mark; wait until the
    // window has repainted with them.
    gui::WaitUntil([&] { return gui::ControlEnabled(main, kStartWriting); }, 3000);
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Picture(pictures, main, kind.name);
  }
  // Two clicks on the address title: the list in descending order, the
  // header showing its mark.
  HWND list = GetDlgItem(main, kLanList);
  for (int mark : {0, 1}) {
    if (!lv::ClickHeader(list, 1) || !gui::WaitUntil([&] { return lv::HeaderMark(list, 1) == mark; })) {
      return Fail("sort");
    }
  }
  RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Picture(pictures, main, L"main_lan_sorted");
  if (!gui::Click(main, kStartWriting)) return Fail("start writing");
  gui::MessageBoxSeen box;
  if (!gui::WaitMessageBox(romsmith.pid(), &box)) return Fail("confirmation");
  Picture(pictures, box.box, L"confirmation");
  if (!gui::PressBoxButton(box, IDOK)) return Fail("confirm");
  HWND progress = WaitProgressDialog(romsmith.pid());
  double unused = 0;
  if (!progress || !FollowWrite(romsmith.pid(), progress, pictures, &unused)) return Fail("write");
  if (!gui::Click(main, kExit)) return Fail("exit");
  DWORD code = 0;
  return romsmith.WaitExit(&code) ? 0 : Fail("end");
}

uint32_t Crc32(const std::vector<unsigned char>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<unsigned char> ReadBytes(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  if (FILE* file = _wfopen(path.c_str(), L"rb")) {
    unsigned char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
  }
  return bytes;
}

// The main window idle again: enabled, no message box open.
bool MainIdle(DWORD pid, HWND main) {
  return gui::WaitUntil([&] { return IsWindowEnabled(main) && gui::MessageBoxes(pid).empty(); });
}

// One Start writing to every printer of the LAN list, both closing
// messages confirmed; each printer must hold exactly the file afterwards
// (and is emptied for the next run, so that the simulator does not grow).
bool WriteToLanList(DWORD pid, HWND main, const std::string& expected) {
  gui::MessageBoxSeen box;
  if (!gui::Click(main, kStartWriting) || !gui::WaitMessageBox(pid, &box)) return false;
  if (!box.cancelButton) {
    printf("Romsmith reported: %s\n", FirstLine(box.text).c_str());
    return false;
  }
  if (!gui::PressBoxButton(box, IDOK)) return false;
  HWND progress = WaitProgressDialog(pid);
  double unused = 0;
  if (!progress || !FollowWrite(pid, progress, L"", &unused) || !MainIdle(pid, main)) return false;
  // The list's printers are the simulator's, from its second address on.
  const auto listed = static_cast<int>(SendMessageW(GetDlgItem(main, kLanList), LVM_GETITEMCOUNT, 0, 0));
  for (int printer = 2; printer < 2 + listed; ++printer) {
    std::string got = SimCommand(SimHost(printer) + " received_crc");
    if (got != expected) {
      printf("printer %s holds \"%s\", not \"%s\"\n", SimHost(printer).c_str(), got.c_str(), expected.c_str());
      return false;
    }
    SimCommand(SimHost(printer) + " clear");
  }
  return true;
}

// One Get Version on the COM printer: the result label, emptied before the
// click, shows the printer's version again once the window is idle.
bool GetVersion(DWORD pid, HWND main) {
  SetWindowTextW(GetDlgItem(main, kVersionResult), L"");
  gui::MessageBoxSeen box;
  if (!gui::Click(main, kGetVersion) || !gui::WaitMessageBox(pid, &box) || !box.cancelButton ||
      !gui::PressBoxButton(box, IDOK)) {
    return false;
  }
  std::vector<gui::MessageBoxSeen> boxes;
  bool shown = gui::WaitUntil([&] {
    boxes = gui::MessageBoxes(pid);
    return !boxes.empty() || (!gui::ControlText(main, kVersionResult).empty() && IsWindowEnabled(main));
  });
  if (!boxes.empty()) printf("Romsmith reported: %s\n", FirstLine(boxes.front().text).c_str());
  return shown && boxes.empty();
}

int SoakRun(int argc, wchar_t** argv) {
  if (argc < 6) return Fail("soak needs FOLDER FIRMWARE WRITES VERSIONS");
  const std::wstring exe = std::wstring(argv[2]) + L"\\Romsmith.exe";
  const std::wstring firmware = argv[3];
  const int writes = _wtoi(argv[4]);
  const int versions = _wtoi(argv[5]);
  std::vector<unsigned char> bytes = ReadBytes(firmware);
  char expected[64];
  snprintf(expected, sizeof(expected), "OK %zu %08x", bytes.size(), static_cast<unsigned>(Crc32(bytes)));
  for (int printer = 2; printer < 2 + kSoakPrinters; ++printer) SimCommand(SimHost(printer) + " reset");
  SimCommand("com reset");

  gui::Program romsmith;
  if (!romsmith.Start(exe)) return Fail("start");
  const DWORD pid = romsmith.pid();
  HWND main = gui::WaitTopWindow(pid, L"Romsmith", L"Romsmith");
  if (!main || !gui::SetText(pid, main, kFileName, firmware) ||
      !gui::WaitUntil([&] { return gui::ControlEnabled(main, kStartWriting); })) {
    return Fail("main window with the firmware file");
  }
  char title[128];
  const auto listed = static_cast<int>(SendMessageW(GetDlgItem(main, kLanList), LVM_GETITEMCOUNT, 0, 0));
  const wchar_t* parallel = _wgetenv(L"ROMSMITH_PARALLEL");
  snprintf(title, sizeof(title), "Romsmith, Start writing of %zu bytes to the LAN list of %d printers%s%s",
           bytes.size(), listed, parallel ? ", Parallel=" : "", parallel ? gui::Narrow(parallel).c_str() : "");
  printf("### %s\n\n", title);
  bool ok = soak::Soak(title, pid, exe, writes, [&](int) { return WriteToLanList(pid, main, expected); });

  if (versions > 0) {
    if (!gui::Click(main, kKindCom) || !gui::WaitUntil([&] { return gui::ControlEnabled(main, kGetVersion); })) {
      return Fail("port kind COM");
    }
    printf("\n### Romsmith, Get Version on COM5\n\n");
    ok = soak::Soak("Romsmith, Get Version on COM5", pid, exe, versions,
                    [&](int) { return GetVersion(pid, main); }) &&
         ok;
  }

  DWORD code = 0;
  if (!gui::Click(main, kExit) || !romsmith.WaitExit(&code)) return Fail("exit");
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"prepare") return Prepare(argc, argv);
  if (command == L"write") return Write(argc, argv);
  if (command == L"start") return StartAndExit(argc, argv);
  if (command == L"tour") return Tour(argc, argv);
  if (command == L"command") return Command(argc, argv);
  if (command == L"soak") return SoakRun(argc, argv);
  fprintf(stderr, "usage: romsmith_operator prepare|write|start|command|tour|soak ...\n");
  return 100;
}
