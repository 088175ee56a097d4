// What the elevated programs take from the system: its libraries from the
// system folder only, and a message filter opened to dropped files alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <cstdio>

#include "sysload/system_library_win.h"
#include "lanquay/lanquay.h"
#include "romsmith/message_filter_win.h"

namespace {

std::wstring ModuleFolder(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  const std::wstring text = path;
  return text.substr(0, text.find_last_of(L'\\'));
}

TEST(SystemLibrary, EachLibraryTheProgramsBindComesFromTheSystemFolder) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  const struct {
    const wchar_t* name;
    const char* entry;
  } kRows[] = {{L"winspool.drv", "EnumPrintersW"},
               {L"version.dll", "VerQueryValueW"},
               {L"iphlpapi.dll", "GetIpNetTable"},
               {L"ICMP.DLL", "IcmpSendEcho"}};
  for (const auto& row : kRows) {
    HMODULE module = LoadSystemLibrary(row.name);
    ASSERT_NE(module, nullptr) << row.name << ": error " << GetLastError();
    EXPECT_EQ(_wcsicmp(ModuleFolder(module).c_str(), system), 0) << row.name << " from " << ModuleFolder(module);
    EXPECT_NE(SystemEntry<FARPROC>(module, row.entry), nullptr) << row.name << " " << row.entry;
    FreeLibrary(module);
  }
}

// lanquay's echo loads the system's ICMP.DLL, not the one planted beside
// the program (the build copies it there; see CMakeLists.txt).
TEST(SystemLibrary, TheEchoDoesNotTakeTheIcmpLibraryBesideTheProgram) {
  const std::wstring folder = ModuleFolder(nullptr);
  const std::wstring mark = folder + L"\\ICMP.DLL.loaded";
  DeleteFileW(mark.c_str());
  ASSERT_NE(GetFileAttributesW((folder + L"\\ICMP.DLL").c_str()), INVALID_FILE_ATTRIBUTES) << "nothing planted";
  HMODULE lanquay = LoadLibraryW((folder + L"\\lanquay.dll").c_str());
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
  const std::wstring beside = ModuleFolder(nullptr) + L"\\lanquay.dll";
  ASSERT_EQ(GetModuleHandleW(L"lanquay.dll"), nullptr);
  RestrictDllSearch();
  EXPECT_EQ(LoadLibraryW(L"lanquay.dll"), nullptr) << "found beside the program by its bare name";
  EXPECT_NE(LoadLibraryW(beside.c_str()), nullptr) << "a full path still loads, as the programs load lanquay";
}

const HWND kWindow = reinterpret_cast<HWND>(0x1234);
std::string g_calls;

BOOL WINAPI RecordFilterEx(HWND window, UINT message, DWORD action, void* extra) {
  char call[64];
  snprintf(call, sizeof call, "ex(%#x,%lu,%s)", message, action, window == kWindow && !extra ? "main" : "other");
  g_calls += call;
  return TRUE;
}

BOOL WINAPI RecordFilter(UINT message, DWORD action) {
  char call[64];
  snprintf(call, sizeof call, "process(%#x,%lu)", message, action);
  g_calls += call;
  return TRUE;
}

// WM_DROPFILES 0x233 and WM_COPYGLOBALDATA 0x49, allowed (1); nothing else,
// neither WM_COMMAND nor WM_COPYDATA (0x4a), which nothing handles.
TEST(MessageFilter, OnlyTheDropMessagesAreLetThrough) {
  const struct {
    const char* system;
    MessageFilterEntries entries;
    const char* calls;
  } kRows[] = {
      {"Windows 7 and later", {RecordFilterEx, RecordFilter}, "ex(0x233,1,main)ex(0x49,1,main)"},
      {"Vista", {nullptr, RecordFilter}, "process(0x233,1)process(0x49,1)"},
      {"no filter", {nullptr, nullptr}, ""},
  };
  for (const auto& row : kRows) {
    g_calls.clear();
    EXPECT_EQ(AllowDropMessages(kWindow, row.entries), row.calls[0] ? 2 : 0) << row.system;
    EXPECT_EQ(g_calls, row.calls) << row.system;
  }
  // Wine's user32 has both calls (and no filter behind them).
  EXPECT_NE(SystemMessageFilter().filterEx, nullptr);
  EXPECT_NE(SystemMessageFilter().filter, nullptr);
}

}  // namespace
