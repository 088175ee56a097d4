// What the elevated program trusts of the files it keeps. The port journal
// lives where only administrators can write while the program is elevated,
// and the reports stay in the user's folder, which any process of the user
// can change: there a junction or link could turn a write, move or delete
// into one anywhere on the system. These are the decisions; the file calls
// are in elevated_files_win.cpp.
#pragma once

#include <string>

// Who owns a file, as far as the checks care.
enum class FileOwner { Administrators, System, CurrentUser, Other };

// A journal is acted on only when the administrators or SYSTEM own it: any
// process of the user can make a file that the user owns. Where the volume
// keeps no owner that is set (every file reads back as the user's, whatever
// was asked for; Wine does this), the user's own files count as well, since
// nothing better can be known there.
bool JournalOwnerTrusted(FileOwner owner, bool volumeKeepsOwners);

// True when the path the system reports for an open handle ("\\?\C:\..." or
// "\\?\UNC\server\share\...") is `expected`, compared without regard to
// case: no junction, symbolic link or mount point on the way led elsewhere.
bool FinalPathIs(const std::wstring& finalPath, const std::wstring& expected);
