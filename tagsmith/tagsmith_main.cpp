// Tagsmith's entry point: the shared program frame with Tagsmith's window
// and its differences from Romsmith.
#include <windows.h>

#include "main_window.h"
#include "program_frame.h"
#include "system_library_win.h"
#include "tagsmith_texts.h"
#include "test_seams.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
  RestrictDllSearch();  // first: the program may run elevated from a folder others can write to
  InstallTestSeams();
  ProgramFrameSpec setup = {};
  setup.kind = ProgramKind::Tagsmith;
  setup.mutexName = L"Tagsmith_Mutex";
  setup.exeName = L"Tagsmith.exe";
  setup.title = kTagsmithTitle;
  setup.messageOnSecondStart = false;  // the running copy only comes forward
  setup.createMainWindow = CreateMainWindow;
  setup.afterCreate = nullptr;  // a command line only hides the window
  setup.afterShutdown = HandOverToRomsmith;
  return RunProgram(setup, instance, commandLine, showCommand);
}
