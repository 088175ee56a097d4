#include <gtest/gtest.h>

#include <cwchar>

#include "core/settings_types.h"

TEST(NoneWord, FollowsTheLanguage) {
  EXPECT_EQ(std::wcscmp(NoneWord(0), L"\u306a\u3057"), 0);
  EXPECT_EQ(std::wcscmp(NoneWord(1), L"None"), 0);
}
