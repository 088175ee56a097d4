#include <winsock2.h>

#include "net_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/settings_types.h"
#include "tools/gui_driver.h"

using gui::RemoveTree;
using gui::WinePath;

NetTestFolder::NetTestFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t name[64];
  static int serial = 0;
  swprintf(name, 64, L"net_test_%lu_%d", GetCurrentProcessId(), ++serial);
  path_ = std::wstring(temp) + name;
  if (!path_.empty() && path_.back() == L'\\') path_.pop_back();
  CreateDirectoryW(path_.c_str(), nullptr);
  CreateDirectoryW((path_ + L"\\Log").c_str(), nullptr);
  lstrcpynW(g_settings.programFolder, path_.c_str(), kPathChars);
  g_settings.logEnabled = 1;
}

NetTestFolder::~NetTestFolder() {
  g_settings.logEnabled = 0;
  RemoveTree(path_);
}

bool NetTestFolder::Add(const char* builtPath, const wchar_t* name) {
  return CopyFileW(WinePath(builtPath).c_str(), (path_ + L"\\" + name).c_str(), FALSE) != 0;
}

std::vector<std::string> NetTestFolder::TakeLog() {
  std::wstring file = path_ + L"\\Log\\_DEBUG.LOG";
  std::vector<std::string> lines = gui::ReadLogLines(file);
  DeleteFileW(file.c_str());
  return lines;
}

namespace {

struct FindBox {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBoxProc(HWND window, LPARAM param) {
  auto* find = reinterpret_cast<FindBox*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t cls[32];
  if (process == find->process && IsWindowVisible(window) && GetClassNameW(window, cls, 32) &&
      lstrcmpW(cls, L"#32770") == 0) {
    find->box = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
  wchar_t cls[32];
  if (GetClassNameW(child, cls, 32) && lstrcmpiW(cls, L"Static") == 0) {
    wchar_t text[1024];
    if (GetWindowTextW(child, text, 1024) > 0) *reinterpret_cast<std::wstring*>(param) += text;
  }
  return TRUE;
}

}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer() {
  InitializeCriticalSection(&lock_);
  thread_ = std::thread([this] {
    while (!stop_) {
      FindBox find = {GetCurrentProcessId(), nullptr};
      EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&find));
      if (find.box != nullptr) {
        std::wstring text;
        EnumChildWindows(find.box, CollectStatic, reinterpret_cast<LPARAM>(&text));
        EnterCriticalSection(&lock_);
        texts_.push_back(text);
        LeaveCriticalSection(&lock_);
        PostMessageW(find.box, WM_COMMAND, IDOK, 0);
        Sleep(300);
      }
      Sleep(50);
    }
  });
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  stop_ = true;
  thread_.join();
  DeleteCriticalSection(&lock_);
}

std::vector<std::wstring> MessageBoxAnswerer::Texts() {
  EnterCriticalSection(&lock_);
  std::vector<std::wstring> copy = texts_;
  LeaveCriticalSection(&lock_);
  return copy;
}

bool HasLogRun(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  if (expected.empty()) return true;
  for (size_t i = 0; i + expected.size() <= lines.size(); ++i) {
    size_t j = 0;
    while (j < expected.size() && lines[i + j] == expected[j]) ++j;
    if (j == expected.size()) return true;
  }
  return false;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "  " + line + "\n";
  return out;
}

std::vector<unsigned char> SimReceivedBulk(const std::string& host) {
  std::vector<unsigned char> bytes;
  const char* base = std::getenv("KIT_SIM_BASE");
  std::string control = std::string(base && *base ? base : "127.0.0.") + "1";
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(19900);
  addr.sin_addr.s_addr = inet_addr(control.c_str());
  std::string answer;
  if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    DWORD timeout = 30000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string line = host + " received\n";
    send(s, line.data(), static_cast<int>(line.size()), 0);
    std::vector<char> piece(65536);
    for (;;) {
      int n = recv(s, piece.data(), static_cast<int>(piece.size()), 0);
      if (n <= 0) break;
      answer.append(piece.data(), static_cast<size_t>(n));
      if (answer.back() == '\n') break;
    }
  }
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  if (answer.compare(0, 3, "OK ") != 0) return bytes;
  auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 3; i + 1 < answer.size() && answer[i] != '\n'; i += 2) {
    bytes.push_back(static_cast<unsigned char>(hex(answer[i]) * 16 + hex(answer[i + 1])));
  }
  return bytes;
}
