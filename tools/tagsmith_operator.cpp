// Tagsmith's operator for the screenshot script and the soak run: a
// program folder with Tagsmith, lanquay and Romsmith.ini for the simulated
// printer on COM5, then
//   tagsmith_operator FOLDER TAGSMITH LANQUAY LANGUAGE PICTURE
//       one Get Serial Number and a serial number typed for writing, and a
//       picture of the window as it then stands (LANGUAGE Japan or English;
//       the picture is saved as a BMP file)
//   tagsmith_operator soak FOLDER TAGSMITH LANQUAY RUNS
//       RUNS times in one Tagsmith session: Start writing of a new serial
//       number, then Get Serial Number, which must show it; prints a table
//       of the time per run and the process's handles, GDI and USER objects
//       and private bytes per 50 runs, and exits with 0 when the last 50
//       runs show no growth over the first 50
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/win/message_box_driver.h"
#include "tests/win/sim_client.h"
#include "tools/gui_driver.h"
#include "tools/process_figures.h"

namespace {

constexpr int kExit = 533;
constexpr int kGetSerial = 600;
constexpr int kWriteSerial = 601;
constexpr int kSerialRead = 1033;
constexpr int kSerialInput = 1036;

int Fail(const char* what) {
  fprintf(stderr, "tagsmith operator: %s: %s\n", what, gui::LastError().c_str());
  return 100;
}

bool Prepare(gui::ProgramFolder& folder, wchar_t* tagsmith, wchar_t* lanquay, const wchar_t* language) {
  std::vector<gui::IniKey> settings(3);
  settings[0] = {L"Language", L"Country", language};
  settings[1] = {L"Port", L"Connected", L"COM"};
  settings[2] = {L"Port", L"PortCOM", L"COM5"};
  return folder.Copy(gui::Narrow(tagsmith).c_str(), L"Tagsmith.exe") &&
         folder.Copy(gui::Narrow(lanquay).c_str(), L"lanquay.dll") &&
         folder.WriteSettings(settings);
}

// Answers the confirmation of an operation; false when another box shows.
bool Confirm(DWORD pid) {
  gui::MessageBoxSeen box;
  return gui::WaitMessageBox(pid, &box) && box.cancelButton && gui::PressBoxButton(box, IDOK);
}

// One write of `serial` and one read, both through the window; the printer
// must hold the number and the window show it.
bool WriteAndRead(DWORD pid, HWND window, const std::wstring& serial) {
  if (!gui::SetText(pid, window, kSerialInput, serial) || !gui::Click(window, kWriteSerial) || !Confirm(pid)) {
    return false;
  }
  gui::MessageBoxSeen result;
  if (!gui::WaitMessageBox(pid, &result)) return false;
  gui::PressBoxButton(result, IDOK);
  if (result.text != L"Serial number writing successful.") {
    printf("Tagsmith reported: %s\n", gui::Narrow(result.text).c_str());
    return false;
  }
  if (!gui::WaitUntil([&] { return IsWindowEnabled(window) && gui::MessageBoxes(pid).empty(); })) return false;
  const std::string held = SimCommand("com serial");
  if (held != "OK " + gui::Narrow(serial)) {
    printf("the printer holds \"%s\" after writing %s\n", held.c_str(), gui::Narrow(serial).c_str());
    return false;
  }
  if (!gui::Click(window, kGetSerial) || !Confirm(pid)) return false;
  std::vector<gui::MessageBoxSeen> boxes;
  bool shown = gui::WaitUntil([&] {
    boxes = gui::MessageBoxes(pid);
    return !boxes.empty() || (gui::ControlText(window, kSerialRead) == L" " + serial && IsWindowEnabled(window));
  });
  if (!boxes.empty()) printf("Tagsmith reported: %s\n", gui::Narrow(boxes.front().text).c_str());
  return shown && boxes.empty();
}

int Soak(int argc, wchar_t** argv) {
  if (argc != 6) return Fail("soak needs FOLDER TAGSMITH LANQUAY RUNS");
  gui::ProgramFolder folder(argv[2], true);
  if (!Prepare(folder, argv[3], argv[4], L"English")) return Fail("prepare");
  SimCommand("com reset");
  const std::wstring exe = folder / L"Tagsmith.exe";
  gui::Program program;
  if (!program.Start(exe)) return Fail("start");
  HWND window = gui::WaitTopWindow(program.pid(), L"Tagsmith", L"Tagsmith");
  if (!window) return Fail("window");
  const char* title = "Tagsmith, Start writing and Get Serial Number on COM5";
  printf("### %s\n\n", title);
  bool ok = soak::Soak(title, program.pid(), exe, _wtoi(argv[5]), [&](int run) {
    wchar_t serial[16];
    swprintf(serial, 16, L"%06d", 100000 + run);
    return WriteAndRead(program.pid(), window, serial);
  });
  PostMessageW(window, WM_COMMAND, kExit, 0);
  DWORD code = 0;
  if (!program.WaitExit(&code)) return Fail("exit");
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc > 1 && std::wstring(argv[1]) == L"soak") return Soak(argc, argv);
  if (argc != 6) {
    fprintf(stderr, "usage: tagsmith_operator FOLDER TAGSMITH LANQUAY LANGUAGE PICTURE\n"
                    "       tagsmith_operator soak FOLDER TAGSMITH LANQUAY RUNS\n");
    return 2;
  }
  gui::ProgramFolder folder(argv[1], true);
  if (!Prepare(folder, argv[2], argv[3], argv[4])) return Fail("prepare");
  gui::Program program;
  if (!program.Start(folder / L"Tagsmith.exe")) return Fail("start");
  HWND window = gui::WaitTopWindow(program.pid(), L"Tagsmith", L"Tagsmith");
  if (!window) return Fail("window");
  if (!gui::Click(window, kGetSerial)) return Fail("get serial number");
  gui::MessageBoxSeen box;
  if (!gui::WaitMessageBox(program.pid(), &box) || !gui::PressBoxButton(box, IDOK)) return Fail("confirmation");
  if (!gui::WaitUntil([&] { return !gui::ControlText(window, kSerialRead).empty() && IsWindowEnabled(window); })) {
    return Fail("serial number read");
  }
  if (!gui::TypeChars(window, kSerialInput, L"000123")) return Fail("typing");
  SaveWindowPicture(window, argv[5]);
  PostMessageW(window, WM_COMMAND, kExit, 0);
  DWORD code = 0;
  if (!program.WaitExit(&code)) return Fail("exit");
  return static_cast<int>(code);
}
