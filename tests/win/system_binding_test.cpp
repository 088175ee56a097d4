// What the elevated programs take from the system: its libraries from the
// system folder only, and a message filter opened to dropped files alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/system_library_win.h"
#include "lanquay/lanquay.h"
#include "romsmith/message_filter_win.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

std::wstring ModuleFolder(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring text = path;
  return Lower(text.substr(0, text.find_last_of(L'\\')));
}

std::wstring ExeFolder() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\'));
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(SystemLibrary, EachLibraryTheProgramsBindComesFromTheSystemFolder) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  const char* const kEntries[][2] = {{"winspool.drv", "EnumPrintersW"},
                                     {"version.dll", "VerQueryValueW"},
                                     {"iphlpapi.dll", "GetIpNetTable"},
                                     {"ICMP.DLL", "IcmpSendEcho"}};
  for (const auto& row : kEntries) {
    const std::wstring name(row[0], row[0] + strlen(row[0]));
    HMODULE module = LoadSystemLibrary(name.c_str());
    ASSERT_NE(module, nullptr) << row[0] << ": error " << GetLastError();
    EXPECT_EQ(Narrow(ModuleFolder(module)), Narrow(Lower(system))) << row[0];
    EXPECT_NE(SystemEntry<FARPROC>(module, row[1]), nullptr) << row[0] << " " << row[1];
    FreeLibrary(module);
  }
  EXPECT_EQ(SystemEntry<FARPROC>(nullptr, "EnumPrintersW"), nullptr);
}

// lanquay's echo loads the system's ICMP.DLL, not the one planted beside
// the program (the build copies it there; see CMakeLists.txt).
TEST(SystemLibrary, TheEchoDoesNotTakeTheIcmpLibraryBesideTheProgram) {
  const std::wstring folder = ExeFolder();
  const std::wstring mark = folder + L"\\ICMP.DLL.loaded";
  DeleteFileW(mark.c_str());
  ASSERT_NE(GetFileAttributesW((folder + L"\\ICMP.DLL").c_str()), INVALID_FILE_ATTRIBUTES) << "nothing planted";
  HMODULE lanquay = LoadLibraryW((folder + L"\\lanquay.dll").c_str());
  ASSERT_NE(lanquay, nullptr);
  auto startup = SystemEntry<LqStartupFn>(lanquay, "LqStartup");
  auto echo = SystemEntry<int(WINAPI*)(const char*)>(lanquay, "LqSendICMP");
  auto cleanup = SystemEntry<LqCleanupFn>(lanquay, "LqCleanup");
  ASSERT_TRUE(startup && echo && cleanup);
  startup(GetModuleHandleW(nullptr));
  echo("127.0.0.1");  // answered or not: only where the library came from matters
  cleanup();
  FreeLibrary(lanquay);
  EXPECT_EQ(GetFileAttributesW(mark.c_str()), INVALID_FILE_ATTRIBUTES) << "the planted ICMP.DLL was loaded";
  DeleteFileW(mark.c_str());
}

// The process-wide search restriction comes last: nothing after it in this
// program may load from its own folder by name.
TEST(SystemLibrary, AfterTheRestrictionABareNameIsNotLookedForBesideTheProgram) {
  const std::wstring planted = ExeFolder() + L"\\lanquay.dll";
  ASSERT_NE(GetFileAttributesW(planted.c_str()), INVALID_FILE_ATTRIBUTES) << "lanquay.dll beside the test";
  ASSERT_EQ(GetModuleHandleW(L"lanquay.dll"), nullptr);
  RestrictDllSearch();
  EXPECT_EQ(LoadLibraryW(L"lanquay.dll"), nullptr) << "found beside the program by its bare name";
  HMODULE byPath = LoadLibraryW(planted.c_str());
  EXPECT_NE(byPath, nullptr) << "a full path still loads, as the programs load lanquay";
  if (byPath != nullptr) FreeLibrary(byPath);
}

struct FilterCall {
  HWND window;
  UINT message;
  DWORD action;
  bool perWindow;
};
std::vector<FilterCall> g_calls;

BOOL WINAPI RecordFilterEx(HWND window, UINT message, DWORD action, void* extra) {
  g_calls.push_back({window, message, action, extra == nullptr});
  return TRUE;
}

BOOL WINAPI RecordFilter(UINT message, DWORD action) {
  g_calls.push_back({nullptr, message, action, false});
  return TRUE;
}

TEST(MessageFilter, OnlyTheDropMessagesAreLetThrough) {
  const HWND window = reinterpret_cast<HWND>(0x1234);
  struct Row {
    const char* system;
    MessageFilterEntries entries;
    bool perWindow;
    int allowed;
  };
  const Row rows[] = {
      {"Windows 7 and later: per window", {RecordFilterEx, RecordFilter}, true, 3},
      {"Vista: for the process", {nullptr, RecordFilter}, false, 3},
      {"before Vista: no filter", {nullptr, nullptr}, false, 0},
  };
  for (const Row& row : rows) {
    g_calls.clear();
    EXPECT_EQ(AllowDropMessages(window, row.entries), row.allowed) << row.system;
    ASSERT_EQ(g_calls.size(), static_cast<size_t>(row.allowed)) << row.system;
    const UINT kExpected[] = {WM_DROPFILES, WM_COPYDATA, 0x0049};
    for (size_t i = 0; i < g_calls.size(); ++i) {
      EXPECT_EQ(g_calls[i].message, kExpected[i]) << row.system;
      EXPECT_EQ(g_calls[i].action, 1u) << row.system << ": MSGFLT_ALLOW / MSGFLT_ADD";
      EXPECT_EQ(g_calls[i].perWindow, row.perWindow) << row.system;
      if (row.perWindow) {
        EXPECT_EQ(g_calls[i].window, window) << row.system;
      }
    }
  }
  // Wine's user32 has both calls (and no filter behind them).
  const MessageFilterEntries system = SystemMessageFilter();
  EXPECT_NE(system.filterEx, nullptr);
  EXPECT_NE(system.filter, nullptr);
}

}  // namespace
