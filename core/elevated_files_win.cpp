#include "elevated_files_win.h"

#include <aclapi.h>

#include <vector>

#include "debug_log.h"

namespace {

// The full path as the checks compare it: no "." or "..", no short names in
// the folders that exist.
std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 2];
  const DWORD chars = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  if (chars == 0 || chars >= MAX_PATH * 2) return L"";
  std::wstring result(full);
  const size_t slash = result.rfind(L'\\');
  if (slash == std::wstring::npos) return result;
  wchar_t longFolder[MAX_PATH * 2];
  const DWORD longChars = GetLongPathNameW(result.substr(0, slash).c_str(), longFolder, MAX_PATH * 2);
  if (longChars == 0 || longChars >= MAX_PATH * 2) return result;
  return std::wstring(longFolder) + result.substr(slash);
}

// True when the open handle is what `path` names, not a reparse point, and
// (for a file) its only name.
bool IsPlain(HANDLE handle, const std::wstring& path, bool folder) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    DebugLogF("PlainFile Err(reparse point)");
    return false;
  }
  const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isFolder != folder || (!folder && info.nNumberOfLinks != 1)) {
    DebugLogF("PlainFile Err(kind %d, links %lu)", isFolder ? 1 : 0, static_cast<unsigned long>(info.nNumberOfLinks));
    return false;
  }
  std::vector<wchar_t> final(MAX_PATH * 2);
  DWORD chars = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
  if (chars >= final.size()) {
    final.resize(chars + 1);
    chars = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
  }
  if (chars == 0 || chars >= final.size() || !FinalPathIs(std::wstring(final.data(), chars), FullPath(path))) {
    DebugLogF("PlainFile Err(final path %lu)", static_cast<unsigned long>(chars == 0 ? GetLastError() : 0));
    return false;
  }
  return true;
}

bool SetDisposition(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// Renames the open file to `path` (replacing what is there) through its
// handle, with the NT form of the path that the call takes.
bool RenameByHandle(HANDLE file, const std::wstring& path) {
  const std::wstring target = L"\\??\\" + FullPath(path);
  std::vector<BYTE> block(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  memcpy(info->FileName, target.data(), target.size() * sizeof(wchar_t));
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(block.size())) != FALSE;
}

bool SameSid(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

bool IsCurrentUser(PSID sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD bytes = 0;
  const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &bytes) &&
                    EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
  CloseHandle(token);
  return same;
}

}  // namespace

bool ProcessIsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD bytes = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &bytes) && elevation.TokenIsElevated;
  CloseHandle(token);
  return elevated;
}

HANDLE OpenPlainFolder(const std::wstring& folder, DWORD access) {
  HANDLE handle =
      CreateFileW(folder.c_str(), access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  if (IsPlain(handle, folder, true)) return handle;
  CloseHandle(handle);
  return INVALID_HANDLE_VALUE;
}

bool MakePlainFolder(const std::wstring& folder, const SECURITY_ATTRIBUTES* security) {
  if (folder.empty()) return false;
  CreateDirectoryW(folder.c_str(), const_cast<SECURITY_ATTRIBUTES*>(security));
  HANDLE handle = OpenPlainFolder(folder, FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

HANDLE OpenPlainFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                     const SECURITY_ATTRIBUTES* security) {
  // The checks read the attributes and the owner through the same handle.
  HANDLE file = CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES | READ_CONTROL, share,
                            const_cast<SECURITY_ATTRIBUTES*>(security), disposition,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (IsPlain(file, path, false)) return file;
  // Made by this call: gone again. Found: left as it is.
  if (disposition == CREATE_NEW && (access & DELETE) != 0) SetDisposition(file);
  CloseHandle(file);
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

bool ReplacePlainFile(const std::wstring& path, const std::string& bytes, const SECURITY_ATTRIBUTES* security,
                      const char* logName) {
  // A name of this process's own, new: nothing already there (a link left
  // by someone else) is opened.
  const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  HANDLE file = OpenPlainFile(temporary, GENERIC_WRITE | DELETE, 0, CREATE_NEW, security);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    DeletePlainFile(temporary);  // left by a crash of a process with our number
    file = OpenPlainFile(temporary, GENERIC_WRITE | DELETE, 0, CREATE_NEW, security);
  }
  if (file == INVALID_HANDLE_VALUE) {
    DebugLogF("%s Err(CreateFile %lu)", logName, static_cast<unsigned long>(GetLastError()));
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  DWORD error = ok ? 0 : GetLastError();
  // Only a flushed file may replace the old one.
  if (ok && !RenameByHandle(file, path)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) {
    DebugLogF("%s Err(write %lu)", logName, static_cast<unsigned long>(error));
    SetDisposition(file);
  }
  CloseHandle(file);
  return ok;
}

bool AppendPlainFile(const std::wstring& path, const std::string& bytes, const char* logName) {
  HANDLE file = OpenPlainFile(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DebugLogF("%s Err(CreateFile %lu)", logName, static_cast<unsigned long>(GetLastError()));
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  if (!ok) DebugLogF("%s Err(WriteFile %lu)", logName, static_cast<unsigned long>(GetLastError()));
  CloseHandle(file);
  return ok;
}

bool DeletePlainFile(const std::wstring& path) {
  HANDLE file = OpenPlainFile(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
  const bool deleted = SetDisposition(file);
  CloseHandle(file);
  return deleted;
}

FileOwner OwnerOf(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return FileOwner::Other;
  }
  FileOwner kind = FileOwner::Other;
  if (SameSid(owner, WinBuiltinAdministratorsSid)) {
    kind = FileOwner::Administrators;
  } else if (SameSid(owner, WinLocalSystemSid)) {
    kind = FileOwner::System;
  } else if (IsCurrentUser(owner)) {
    kind = FileOwner::CurrentUser;
  }
  LocalFree(descriptor);
  return kind;
}
