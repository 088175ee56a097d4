// Libraries of the system, loaded from the system folder only.
//
// Romsmith runs with the administrator's rights from whatever folder the
// technician unzipped it into: a download folder or a USB stick that others
// can write to. A library that is not one of the system's known DLLs is
// looked for in the program's folder first, so a planted VERSION.dll there
// would run elevated. The programs therefore import only known DLLs, bind
// every other system library here at run time by its place in the system
// folder, and narrow the default search to that folder at start.
//
// Header only, in a folder of its own below lanquay.dll and the core: both
// use it, and neither reaches into the other for it.
#pragma once

#include <windows.h>

#include <cwchar>

/// Narrows the folders searched for a library named without a path to the
/// system folder, before anything else is loaded. Systems without
/// SetDefaultDllDirectories (Windows 7 without its loader update) keep
/// their search; LoadSystemLibrary then uses full paths.
inline void RestrictDllSearch() {
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  auto setDirectories =
      reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories != nullptr) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

/// Loads the system library `name` (a file name such as L"version.dll")
/// from the system folder, never from the program's folder or the path.
/// Null when it is not there.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
  // Where SetDefaultDllDirectories exists, so do the search flags.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel != nullptr && GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  wchar_t path[MAX_PATH];
  const UINT chars = GetSystemDirectoryW(path, MAX_PATH);
  if (chars == 0 || chars + 1 + wcslen(name) >= MAX_PATH) return nullptr;
  _snwprintf(path + chars, MAX_PATH - chars, L"\\%ls", name);
  path[MAX_PATH - 1] = L'\0';
  // The library's own imports are then looked for beside it as well.
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

/// The entry `name` of `module` as a function pointer of type Fn; null when
/// the module or the entry is missing.
template <typename Fn>
Fn SystemEntry(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
