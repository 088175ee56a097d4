// Turns the debug log on into a fresh temporary folder for one test and
// reads back what was written, so that tests can check the exact lines.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "core/settings_types.h"

class LogCapture {
 public:
  explicit LogCapture(const wchar_t* name) {
    GetTempPathW(kPathChars, folder_);
    wcscat(folder_, name);
    CreateDirectoryW(folder_, nullptr);
    swprintf(logFolder_, kPathChars, L"%ls\\Log", folder_);
    swprintf(logFile_, kPathChars, L"%ls\\_DEBUG.LOG", logFolder_);
    CreateDirectoryW(logFolder_, nullptr);
    DeleteFileW(logFile_);
    wcscpy(g_settings.programFolder, folder_);
    g_settings.logEnabled = 1;
  }
  ~LogCapture() {
    g_settings.logEnabled = 0;
    DeleteFileW(logFile_);
    RemoveDirectoryW(logFolder_);
    RemoveDirectoryW(folder_);
  }
  // The text of the lines without their time stamps, each ended by "\n".
  std::string Lines() const {
    std::string out;
    FILE* f = _wfopen(logFile_, L"rb");
    if (f == nullptr) return out;
    char line[2048];
    while (fgets(line, sizeof(line), f) != nullptr) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      if (text.size() >= 15 && text[0] == '[') text = text.substr(15);
      out += text + "\n";
    }
    fclose(f);
    return out;
  }
  void Clear() { DeleteFileW(logFile_); }

 private:
  wchar_t folder_[kPathChars] = {};
  wchar_t logFolder_[kPathChars] = {};
  wchar_t logFile_[kPathChars] = {};
};
