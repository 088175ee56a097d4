#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "core/elevated_files.h"

namespace {

// Only the administrators' or SYSTEM's journal is acted on; the user's own
// counts only where the volume cannot record another owner.
TEST(ElevatedFiles, JournalOwners) {
  EXPECT_TRUE(JournalOwnerTrusted(FileOwner::Administrators, true));
  EXPECT_TRUE(JournalOwnerTrusted(FileOwner::System, true));
  EXPECT_FALSE(JournalOwnerTrusted(FileOwner::CurrentUser, true));
  EXPECT_FALSE(JournalOwnerTrusted(FileOwner::Other, true));
  EXPECT_TRUE(JournalOwnerTrusted(FileOwner::CurrentUser, false)) << "a volume that keeps no owners";
  EXPECT_FALSE(JournalOwnerTrusted(FileOwner::Other, false));
}

// A junction or link anywhere on the way shows as another final path.
TEST(ElevatedFiles, FinalPathMatchesOnlyThePathAskedFor) {
  const std::wstring asked = L"C:\\Users\\Ann\\AppData\\Local\\Romsmith\\Reports\\Write.json";
  const struct {
    const wchar_t* finalPath;
    bool same;
  } cases[] = {
      {L"\\\\?\\C:\\Users\\Ann\\AppData\\Local\\Romsmith\\Reports\\Write.json", true},
      {L"\\\\?\\c:\\users\\ann\\appdata\\local\\romsmith\\reports\\write.json", true},
      {L"C:\\Users\\Ann\\AppData\\Local\\Romsmith\\Reports\\Write.json", true},
      {L"\\\\?\\C:\\Windows\\System32\\Write.json", false},
      {L"\\\\?\\D:\\Users\\Ann\\AppData\\Local\\Romsmith\\Reports\\Write.json", false},
      {L"\\\\?\\UNC\\server\\share\\Write.json", false},
      {L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FinalPathIs(c.finalPath, asked), c.same) << std::string(c.finalPath, c.finalPath + wcslen(c.finalPath));
  }
  EXPECT_TRUE(FinalPathIs(L"\\\\?\\UNC\\server\\share\\r.txt", L"\\\\server\\share\\r.txt"));
  EXPECT_FALSE(FinalPathIs(L"", L""));
}

}  // namespace
