// The pieces of a program's life that Romsmith and Tagsmith share: the
// start-up order around the main window, the one-instance rule, the message
// loop, the keyboard hook that lets Enter press the progress dialog's OK
// button, focus routing, the version label text and the busy state.
// Compiled once into the static library `program_frame` that both link.
#pragma once

#include <windows.h>

#include <cstdint>

#include "program_state.h"

// What differs between the two programs; everything else of the start-up
// and shutdown order is the same code.
struct ProgramFrameSpec {
  ProgramKind kind;
  const wchar_t* mutexName;  // "Romsmith_Mutex" / "Tagsmith_Mutex"
  const wchar_t* exeName;    // version resource source: "Romsmith.exe" / "Tagsmith.exe"
  const wchar_t* title;      // own window title, used to find the running copy
  bool messageOnSecondStart; // Romsmith shows message 15, Tagsmith nothing
  // Creates and shows the main window; false ends the program (exit code 0).
  bool (*createMainWindow)(int showCommand);
  // Runs after the main window exists, before the hook and the loop
  // (Romsmith's automatic mode). May be null.
  void (*afterCreate)(const wchar_t* commandLine, int interactive);
  // Runs after the loop and the library unload: the hand-over to the other
  // program (close Tagsmith / bring Romsmith forward). May be null.
  void (*afterShutdown)();
  // Exit code of a run started with a command line that ends before its
  // window exists (second start, no network library): an unattended caller
  // must not read such a run as success. Interactive runs end with 0.
  int unattendedEarlyExit;
};

// Program-wide frame state, one instance per program.
struct FrameState {
  int32_t busy;            // 1 idle, 0 while an operation runs
  int32_t interactive;     // the show command, 0 in a run started with a command line
  HHOOK hook;
  DWORD mainThreadId;
  HWND rememberedFocus;    // control that had the focus at deactivation
  wchar_t versionText[64]; // "Ver. %s", empty when the file has no version resource
};
extern FrameState g_frame;

// wWinMain's body for both programs: settings, log switch, version text,
// spooler snapshot, mutex, network libraries, [Ports] defaults, window,
// hook, loop, shutdown. Returns the process exit code.
int RunProgram(const ProgramFrameSpec& setup, HINSTANCE instance, const wchar_t* commandLine, int showCommand);

// Brings the main window titled `title` (or the box or dialog it has open)
// to the front, restored from minimised. Each program's main window class
// has the program's title as its name (CreateMainDialog and the dialog
// template), so only a main window is found. Returns that window, or null
// when none exists. Used by the one-instance rule and the hand-over
// between the two programs at exit.
HWND BringWindowForward(const wchar_t* title);

// Gives `control` the focus and tells the dialog, so the default button follows.
void SetDlgFocus(HWND dialog, HWND control);

void SetKeyHook();
void ReleaseKeyHook();
LRESULT CALLBACK KeyboardHookProc(int code, WPARAM virtualKey, LPARAM keyFlags);

// Fills g_frame.versionText from `exeName` in the program folder. 0 or -8.
// The name is fixed by the caller, not taken from the running module, so a
// renamed copy still shows the shipped file's version.
int32_t LoadVersionText(const wchar_t* exeName);

// Wait cursor, busy flag 0, window disabled; and back.
void BeginBusy(HWND window);
void EndBusy(HWND window);

// Shared handling of WM_ACTIVATE / SC_MINIMIZE (remember the focused
// control), WM_SETFOCUS (give it back) and WM_SETCURSOR while busy. Each
// returns true when the message was handled.
void RememberFocus(HWND dialog);
void RestoreFocus(HWND dialog);
bool HandleBusyCursor(HWND window, LPARAM lParam);

// The main window of either program: registers `className` (the class its
// dialog template names: the dialog manager's extra bytes, icon `iconId`,
// the arrow cursor, the button-face background, `windowProc` serving as the
// dialog procedure too), initialises the common controls (`extraClasses`
// for InitCommonControlsEx, 0 for none) and creates dialog `templateId`
// modeless without owner as g_program.mainWindow. Null when the class or
// the dialog cannot be made.
HWND CreateMainDialog(const wchar_t* className, WNDPROC windowProc, int iconId, int templateId, DWORD extraClasses);

// Shows the main window with the show command, sets the arrow cursor and
// brings the window forward.
void ShowMainWindow(HWND window, int showCommand);

// The default handling of a main window's messages: the frame's share (the
// focused control remembered on deactivation and minimising, given back with
// WM_SETFOCUS, the busy cursor), then DefWindowProcW.
LRESULT FrameDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
