// Romsmith's entry point: the shared program frame with the firmware
// writer's window, its unattended run and its hand-over to Tagsmith.
#include <windows.h>

#include <string>

#include "exit_codes.h"
#include "firmware_file.h"
#include "main_window.h"
#include "program_frame.h"
#include "system_library_win.h"
#include "program_state.h"
#include "result_codes.h"
#include "resource.h"
#include "result_message.h"
#include "settings_types.h"
#include "test_seams.h"
#include "texts.h"

namespace {

// A command line is the firmware file path, taken whole but for one pair of
// enclosing quotation marks: Explorer and scripts quote a path with a space.
// Its extension, and that the file is not empty, are checked before the
// write starts; a refusal names the expected extension.
void StartUnattendedRun(const wchar_t* commandLine, int interactive) {
  if (interactive != 0) return;
  HWND window = g_program.mainWindow;
  std::wstring path = commandLine != nullptr ? commandLine : L"";
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  wchar_t expected[kExtensionChars] = {};
  int32_t result = CheckFirmwareFile(kCheckExtension, path.c_str(), expected, nullptr);
  if (result == 0) {
    // Only an empty file is refused here; a missing one is reported with
    // its path by Start writing.
    CommandBuffer sized = {0, nullptr};
    if (CheckFirmwareFile(kCheckSize, path.c_str(), nullptr, &sized) == FILE_ERR_NOT_FIRMWARE) {
      result = FILE_ERR_NOT_FIRMWARE;
    }
  }
  if (result != 0) {
    ShowResultMessage(window, result, expected);
    EndUnattendedRun(kExitFileRejected);
    return;
  }
  SetDlgItemTextW(window, IDC_FILE_NAME, path.c_str());
  // Posted, so that the write runs in the message loop with the Enter hook
  // in place.
  PostMessageW(window, WM_COMMAND, IDC_START_WRITING, 0);
}

// After the loop: the list header marks and search results go, and a
// running Tagsmith is closed with its Exit command.
void AfterShutdown() {
  FreeLanListResources();
  HWND tagsmith = BringWindowForward(kTagsmithTitle);
  if (tagsmith != nullptr) PostMessageW(tagsmith, WM_COMMAND, IDC_EXIT, 0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
  RestrictDllSearch();  // first: the program may run elevated from a folder others can write to
  InstallTestSeams();
  g_mainWindow.searchResults =
      static_cast<LanPrinterRecord*>(GlobalAlloc(GPTR, sizeof(LanPrinterRecord) * kLanListRecords));
  ProgramFrameSpec setup = {};
  setup.kind = ProgramKind::Romsmith;
  setup.mutexName = L"Romsmith_Mutex";
  setup.exeName = L"Romsmith.exe";
  setup.title = kProgramTitle;
  setup.messageOnSecondStart = true;
  setup.createMainWindow = CreateMainWindow;
  setup.afterCreate = StartUnattendedRun;
  setup.afterShutdown = AfterShutdown;
  setup.unattendedEarlyExit = kExitNotStarted;
  int code = RunProgram(setup, instance, commandLine, showCommand);
  FreeLanListResources();  // early exits skip AfterShutdown
  return code;
}
