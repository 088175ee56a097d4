// Program-wide state of the core that is not a setting: which program runs,
// and the windows whose controls the core writes to when they exist.
#pragma once

#include <windows.h>

#include <cstdint>

enum class ProgramKind { Romsmith, Tagsmith };

struct ProgramState {
  ProgramKind kind;
  HINSTANCE instance;
  HWND mainWindow;      // null until the main dialog exists
  HWND progressDialog;  // null unless the progress dialog is open
  int32_t netSlot;      // binding slot of the network printer being served
};

extern ProgramState g_program;
