// Helpers of the network library tests: a program folder of their own into
// which the libraries under test are copied, the debug log read back, and an
// operator who answers a message box.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A fresh folder under the temp folder, set as g_settings.programFolder, with
// a "Log" folder so that the debug log is written; removed at the end.
class NetTestFolder {
 public:
  NetTestFolder();
  ~NetTestFolder();
  // Copies a library built by this tree (a Unix path) into the folder.
  bool Add(const char* builtPath, const wchar_t* name);
  // The log lines written so far without their time stamps; clears the log.
  std::vector<std::string> TakeLog();
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Watches for a message box of this process, keeps its text and presses OK.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer();
  ~MessageBoxAnswerer();
  // The texts of every message box answered so far.
  std::vector<std::wstring> Texts();

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
  CRITICAL_SECTION lock_;
  std::vector<std::wstring> texts_;
};

// Every byte a simulated LAN printer received on its data port, read over a
// control connection of its own in large pieces (firmware-sized records).
std::vector<unsigned char> SimReceivedBulk(const std::string& host);

// True when lines holds expected as a contiguous run.
bool HasLogRun(const std::vector<std::string>& lines, const std::vector<std::string>& expected);
// Every line, one per row, for failure messages.
std::string JoinLines(const std::vector<std::string>& lines);
