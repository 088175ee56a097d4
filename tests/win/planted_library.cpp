// Left in a program folder under a system library's name (tests only): when
// anything loads it, it leaves "<its own file name>.loaded" beside itself.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  const DWORD chars = GetModuleFileNameW(self, path, MAX_PATH);
  if (chars == 0 || chars >= MAX_PATH) return TRUE;
  wcscat(path, L".loaded");
  HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}
