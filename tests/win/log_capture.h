// Turns the debug log on into a fresh temporary folder for one test and
// reads back what was written, so that tests can check the exact lines.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

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
  // The file as written, CR LF included.
  std::string Text() const {
    std::string out;
    FILE* f = _wfopen(logFile_, L"rb");
    if (f == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
  }
  // The texts of the log lines without their time stamps.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::string text = Text();
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      lines.push_back(line.size() >= 15 && line[0] == '[' ? line.substr(15) : line);
      pos = end + 2;
    }
    return lines;
  }
  // The same texts joined, each ended by "\n".
  std::string LinesText() const {
    std::string out;
    for (const std::string& line : Lines()) out += line + "\n";
    return out;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const std::string& l : Lines()) n += l == line;
    return n;
  }
  void Clear() { DeleteFileW(logFile_); }

 private:
  wchar_t folder_[kPathChars] = {};
  wchar_t logFolder_[kPathChars] = {};
  wchar_t logFile_[kPathChars] = {};
};
