#include "message_filter_win.h"

namespace {

constexpr UINT kCopyGlobalData = 0x0049;  // WM_COPYGLOBALDATA, not in the headers
constexpr DWORD kFilterAllow = 1;         // MSGFLT_ALLOW (Ex) and MSGFLT_ADD share the value
// WM_COPYDATA is not among them: a drop does not need it, and nothing here
// handles it, so letting it through would only widen what a less trusted
// process can send the elevated window.
constexpr UINT kDropMessages[] = {WM_DROPFILES, kCopyGlobalData};

}  // namespace

MessageFilterEntries SystemMessageFilter() {
  MessageFilterEntries entries = {};
  HMODULE user = GetModuleHandleW(L"user32.dll");
  if (user == nullptr) return entries;
  entries.filterEx = reinterpret_cast<decltype(entries.filterEx)>(
      reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilterEx")));
  entries.filter = reinterpret_cast<decltype(entries.filter)>(
      reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilter")));
  return entries;
}

int AllowDropMessages(HWND window, const MessageFilterEntries& entries) {
  int allowed = 0;
  for (UINT message : kDropMessages) {
    BOOL done = FALSE;
    if (entries.filterEx != nullptr) {
      done = entries.filterEx(window, message, kFilterAllow, nullptr);
    } else if (entries.filter != nullptr) {
      done = entries.filter(message, kFilterAllow);
    }
    if (done) ++allowed;
  }
  return allowed;
}
