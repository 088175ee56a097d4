// The modeless progress dialog that Romsmith shows over its disabled main
// window while it searches for printers or writes firmware.
#pragma once

#include <windows.h>

#include <cstdint>

// Progress states.
constexpr int32_t kProgressMessageOnly = 0;
constexpr int32_t kProgressWriting = 1;
constexpr int32_t kProgressClosing = 2;
constexpr int32_t kProgressNone = 3;

struct ProgressState {
  int32_t state;
  int32_t normalCursor;   // 0 while the dialog shows the wait cursor
  int32_t writeSucceeded; // every printer of the run was written
  int32_t someFailed;     // a run with several printers in flight wrote some, not all
};
extern ProgressState g_progress;

// Sets the state and creates the dialog owned by the main window; the handle
// is kept in g_program.progressDialog. Returns it, or null.
HWND OpenProgressDialog(int32_t state);
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// After the last printer: the POWER-lamp text, OK enabled and focused.
void ShowPowerLampStep();
