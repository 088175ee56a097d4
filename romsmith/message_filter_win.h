// Drag and drop into the elevated Romsmith. Explorer runs with the user's
// rights and Romsmith with the administrator's, so the system's message
// filter drops a drop's messages on their way up. The main window lets
// exactly those through (WM_DROPFILES and WM_COPYGLOBALDATA, 0x0049, which
// carries the dropped names); every other message of a less trusted
// process, WM_COMMAND and WM_COPYDATA among them, stays blocked.
#pragma once

#include <windows.h>

/// The filter calls, bound from user32 at run time because systems before
/// Windows 7 (Ex) or Vista (both) lack them. A member is null when missing.
struct MessageFilterEntries {
  BOOL(WINAPI* filterEx)(HWND, UINT, DWORD, void*);  // ChangeWindowMessageFilterEx: one window
  BOOL(WINAPI* filter)(UINT, DWORD);                 // ChangeWindowMessageFilter: the whole process
};

MessageFilterEntries SystemMessageFilter();

/// Lets the drop messages through to `window`: per window where the system
/// can, else for the process. Returns how many messages were let through.
int AllowDropMessages(HWND window, const MessageFilterEntries& entries);
