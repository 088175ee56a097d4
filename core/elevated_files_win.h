// File calls for the folders the elevated program writes: none of them
// follows a junction, symbolic link or mount point. A reparse point at the
// end of a path is refused (the files are opened with
// FILE_FLAG_OPEN_REPARSE_POINT), one on the way is found by comparing the
// final path of the open handle with the path asked for, a file with a
// second name (a hard link) is refused, and a new file is written under a
// name of its own and renamed by its handle.
#pragma once

#include <windows.h>

#include <string>

#include "elevated_files.h"

// True when the process runs with an elevated (administrator) token.
bool ProcessIsElevated();

// Opens an existing folder for `access` as it is; INVALID_HANDLE_VALUE when
// it is missing, not a folder, a reparse point, or reached through one.
HANDLE OpenPlainFolder(const std::wstring& folder, DWORD access);

// Creates the folder when it is missing (with `security`, may be null), then
// checks it as OpenPlainFolder does. False when it cannot be had.
bool MakePlainFolder(const std::wstring& folder, const SECURITY_ATTRIBUTES* security);

// Opens a file with CreateFileW's access, sharing and disposition, and
// checks it; INVALID_HANDLE_VALUE (last error set) when it cannot be opened
// or fails a check.
HANDLE OpenPlainFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                     const SECURITY_ATTRIBUTES* security);

// Replaces `path` whole: the bytes go into a new file of this process's own
// name beside it, are flushed, and the file is renamed over `path` by its
// handle, so that a crash leaves one or the other. Logs under `logName`.
bool ReplacePlainFile(const std::wstring& path, const std::string& bytes, const SECURITY_ATTRIBUTES* security,
                      const char* logName);

// Appends to `path`, creating it when missing.
bool AppendPlainFile(const std::wstring& path, const std::string& bytes, const char* logName);

// Deletes `path` through its handle; true when it is gone (or was missing).
bool DeletePlainFile(const std::wstring& path);

// The owner of an open file or folder.
FileOwner OwnerOf(HANDLE handle);
