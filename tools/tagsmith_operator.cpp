// Tagsmith's operator for the screenshot script: a program folder with
// Tagsmith, lanquay and Romsmith.ini, then one Get Serial Number on the
// simulated COM printer and a serial number typed for writing, and a
// picture of the window as it then stands.
//   tagsmith_operator FOLDER TAGSMITH LANQUAY LANGUAGE PICTURE
// LANGUAGE is Japan or English; the picture is saved as a BMP file.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/win/message_box_driver.h"
#include "tools/gui_driver.h"

namespace {

constexpr int kExit = 533;
constexpr int kGetSerial = 600;
constexpr int kSerialRead = 1033;
constexpr int kSerialInput = 1036;

int Fail(const char* what) {
  fprintf(stderr, "tagsmith operator: %s: %s\n", what, gui::LastError().c_str());
  return 100;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: tagsmith_operator FOLDER TAGSMITH LANQUAY LANGUAGE PICTURE\n");
    return 2;
  }
  gui::ProgramFolder folder(argv[1], true);
  std::string tagsmith = gui::Narrow(argv[2]);
  std::string lanquay = gui::Narrow(argv[3]);
  std::vector<gui::IniKey> settings(3);
  settings[0] = {L"Language", L"Country", argv[4]};
  settings[1] = {L"Port", L"Connected", L"COM"};
  settings[2] = {L"Port", L"PortCOM", L"COM5"};
  if (!folder.Copy(tagsmith.c_str(), L"Tagsmith.exe") || !folder.Copy(lanquay.c_str(), L"lanquay.dll") ||
      !folder.WriteSettings(settings)) {
    return Fail("prepare");
  }
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
