// Tagsmith's entry point: the shared program frame with Tagsmith's window
// and its differences from Romsmith.
#include <windows.h>

#include "main_window.h"
#include "program_frame.h"
#include "tagsmith_texts.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
  ProgramFrameSpec spec = {};
  spec.kind = ProgramKind::Tagsmith;
  spec.mutexName = L"Tagsmith_Mutex";
  spec.exeName = L"Tagsmith.exe";
  spec.title = kTagsmithTitle;
  spec.messageOnSecondStart = false;  // the running copy only comes forward
  spec.createMainWindow = CreateMainWindow;
  spec.afterCreate = nullptr;  // a command line only hides the window
  spec.afterShutdown = HandOverToRomsmith;
  return RunProgram(spec, instance, commandLine, showCommand);
}
