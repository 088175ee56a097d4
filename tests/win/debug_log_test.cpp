#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/debug_log.h"
#include "core/settings_types.h"

namespace {

std::string ReadWhole(const wchar_t* path) {
  std::string out;
  FILE* f = _wfopen(path, L"rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetTempPathW(kPathChars, folder_);
    wcscat(folder_, L"kit_log_test");
    CreateDirectoryW(folder_, nullptr);
    wcscpy(g_settings.programFolder, folder_);
    swprintf(logFolder_, kPathChars, L"%ls\\Log", folder_);
    swprintf(logFile_, kPathChars, L"%ls\\_DEBUG.LOG", logFolder_);
    DeleteFileW(logFile_);
    RemoveDirectoryW(logFolder_);
    g_settings.logEnabled = 1;
  }
  void TearDown() override {
    DeleteFileW(logFile_);
    RemoveDirectoryW(logFolder_);
    g_settings.logEnabled = 0;
  }
  wchar_t folder_[kPathChars] = {};
  wchar_t logFolder_[kPathChars] = {};
  wchar_t logFile_[kPathChars] = {};
};

TEST_F(DebugLogTest, LinesAreTimeStampedWithCrLfAndFollowTheFolder) {
  // No folder: the line is lost silently.
  WriteDebugLog("lost");
  EXPECT_EQ(GetFileAttributesW(logFile_), INVALID_FILE_ATTRIBUTES);

  ASSERT_TRUE(CreateDirectoryW(logFolder_, nullptr));
  WriteDebugLog("SendPrinter Start");
  DebugLogF("Port = %s", "COM5");
  std::string text = ReadWhole(logFile_);
  ASSERT_EQ(text.size(), 2 * (15 + 2) + sizeof("SendPrinter Start") - 1 + sizeof("Port = COM5") - 1) << text;
  // "[hh:mm:ss:mmm] " then the text, then CR LF.
  EXPECT_EQ(text[0], '[');
  EXPECT_EQ(text[3], ':');
  EXPECT_EQ(text[6], ':');
  EXPECT_EQ(text[9], ':');
  EXPECT_EQ(text.substr(13, 2), "] ");
  EXPECT_EQ(text.substr(15, 19), "SendPrinter Start\r\n");
  EXPECT_EQ(text.substr(text.size() - 13), "Port = COM5\r\n");

  // Logging switched off writes nothing.
  g_settings.logEnabled = 0;
  WriteDebugLog("off");
  EXPECT_EQ(ReadWhole(logFile_), text);
}

}  // namespace
