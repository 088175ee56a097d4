// Tagsmith's one window: dialog 101 under the window class "Tagsmith".
#pragma once

#include <windows.h>

#include <cstdint>

// Window state besides the frame's busy flag and remembered focus.
struct TagsmithWindowState {
  HWND window;
  int32_t ready;        // 1 once the window exists; edit changes before are ignored
  int32_t operating;    // 1 from BeginBusy to the end of an operation's result box
  int32_t exitPending;  // Exit arrived while an operation ran; carried out at its end
};
extern TagsmithWindowState g_tagsmithWindow;

// Registers the class, creates and shows the window and focuses the serial
// box. False when the class or the dialog cannot be made.
bool CreateMainWindow(int showCommand);

// The window procedure of the class, which is also the dialog's procedure.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// After the program's loop: brings Romsmith's window forward and tells it
// that Tagsmith has ended.
void HandOverToRomsmith();
