#include "elevated_files.h"

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The DOS form of a final path: "\\?\C:\x" gives "C:\x", "\\?\UNC\s\x" gives
// "\\s\x"; anything else is kept.
std::wstring DosForm(const std::wstring& path) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (StartsWith(path, L"\\\\?\\")) return path.substr(4);
  return path;
}

}  // namespace

bool JournalOwnerTrusted(FileOwner owner, bool volumeKeepsOwners) {
  switch (owner) {
    case FileOwner::Administrators:
    case FileOwner::System:
      return true;
    case FileOwner::CurrentUser:
      return !volumeKeepsOwners;
    case FileOwner::Other:
      return false;
  }
  return false;
}

bool FinalPathIs(const std::wstring& finalPath, const std::wstring& expected) {
  const std::wstring got = DosForm(finalPath);
  const std::wstring want = DosForm(expected);
  if (got.empty() || got.size() != want.size()) return false;
  for (size_t i = 0; i < got.size(); ++i) {
    // Case differs only in letters; a '/' never appears in a final path.
    if (FoldAscii(got[i]) != FoldAscii(want[i])) return false;
  }
  return true;
}
