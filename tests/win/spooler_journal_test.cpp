// A run killed in the middle of an exchange: a child process (this program,
// started again on the child test) moves printers to "FILE:" through a fake
// spooler whose state lives in a file, and is ended by TerminateProcess. The
// start-up repair must then put every recorded printer back.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <vector>
#include <string>

#include "core/port_journal.h"
#include "core/result_codes.h"
#include "core/settings_types.h"
#include "core/spooler.h"
#include "core/spooler_journal.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  DWORD chars = GetEnvironmentVariableW(name, value, MAX_PATH);
  return chars > 0 && chars < MAX_PATH ? value : L"";
}

// The fake spooler: "name<TAB>port" lines in the file named by
// KIT_JOURNAL_SPOOLER, read before and written after every call. A printer
// named in KIT_JOURNAL_CLOSED cannot be opened; the change numbered
// KIT_JOURNAL_HANG (from 1) never returns, as in a program stopped there.
std::map<std::wstring, std::wstring> LoadSpooler() {
  std::map<std::wstring, std::wstring> printers;
  std::wifstream in(Env(L"KIT_JOURNAL_SPOOLER").c_str());
  std::wstring line;
  while (std::getline(in, line)) {
    const size_t tab = line.find(L'\t');
    if (tab != std::wstring::npos) printers[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return printers;
}

void SaveSpooler(const std::map<std::wstring, std::wstring>& printers) {
  std::wofstream out(Env(L"KIT_JOURNAL_SPOOLER").c_str(), std::ios::trunc);
  for (const auto& p : printers) out << p.first << L'\t' << p.second << L'\n';
}

std::wstring g_openName;
int g_changes = 0;

DWORD LayOut(const std::wstring& name, const std::wstring& port, BYTE* buffer, DWORD bytes) {
  const DWORD needed = static_cast<DWORD>(sizeof(PRINTER_INFO_2W) + (name.size() + port.size() + 2) * sizeof(wchar_t));
  if (buffer == nullptr || bytes < needed) return needed;
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
  auto* text = reinterpret_cast<wchar_t*>(info + 1);
  ZeroMemory(info, sizeof(*info));
  info->pPrinterName = lstrcpyW(text, name.c_str());
  info->pPortName = lstrcpyW(text + name.size() + 1, port.c_str());
  return needed;
}

BOOL FileEnum(BYTE* buffer, DWORD bytes, DWORD* needed, DWORD* returned) {
  const auto printers = LoadSpooler();
  DWORD total = 0;
  for (const auto& p : printers) total += LayOut(p.first, p.second, nullptr, 0);
  *needed = total;
  *returned = 0;
  if (buffer == nullptr || bytes < total) return FALSE;
  // Records first, then the strings, as the spooler lays them out.
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
  auto* text = reinterpret_cast<wchar_t*>(info + printers.size());
  for (const auto& p : printers) {
    ZeroMemory(info, sizeof(*info));
    info->pPrinterName = lstrcpyW(text, p.first.c_str());
    text += p.first.size() + 1;
    info->pPortName = lstrcpyW(text, p.second.c_str());
    text += p.second.size() + 1;
    ++info;
  }
  *returned = static_cast<DWORD>(printers.size());
  return TRUE;
}

BOOL FileOpen(const wchar_t* name, HANDLE* printer) {
  if (LoadSpooler().count(name) == 0 || Env(L"KIT_JOURNAL_CLOSED") == name) return FALSE;
  g_openName = name;
  *printer = reinterpret_cast<HANDLE>(static_cast<intptr_t>(16));
  return TRUE;
}

BOOL FileGet(HANDLE, BYTE* buffer, DWORD bytes, DWORD* needed) {
  const auto printers = LoadSpooler();
  *needed = LayOut(g_openName, printers.at(g_openName), buffer, bytes);
  return buffer != nullptr && bytes >= *needed;
}

BOOL FileSet(HANDLE, PRINTER_INFO_2W* info) {
  if (++g_changes == _wtoi(Env(L"KIT_JOURNAL_HANG").c_str())) Sleep(INFINITE);
  auto printers = LoadSpooler();
  printers[g_openName] = info->pPortName;
  SaveSpooler(printers);
  return TRUE;
}

BOOL FileClose(HANDLE) { return TRUE; }
void* Alloc(size_t bytes) { return GlobalAlloc(GPTR, bytes); }
void Free(void* block) { GlobalFree(block); }
void NoPump() {}
const SpoolerApi kFileSpooler = {FileEnum, FileOpen, FileGet, FileSet, FileClose, Alloc, Free, NoPump};

size_t JournalEntries() {
  std::ifstream in(SpoolerJournalPath().c_str(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParsePortJournal(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).entries.size();
}

int OnFile(const std::map<std::wstring, std::wstring>& printers) {
  int n = 0;
  for (const auto& p : printers) n += p.second == L"FILE:" ? 1 : 0;
  return n;
}

// Runs only when started by the test below: switches, then waits to be killed.
TEST(SpoolerJournalChild, SwitchAndWait) {
  const std::wstring folder = Env(L"KIT_JOURNAL_CHILD");
  if (folder.empty()) GTEST_SKIP() << "started by KilledExchangeIsRepaired only";
  SetSpoolerJournalFolder(folder.c_str());
  SetSpoolerApi(&kFileSpooler);
  RefreshSpoolerList();
  PrinterConnection usb = {};
  lstrcpyW(usb.portName, L"USB001");
  PortReplace(REPLACE_ON, &usb);
  Sleep(INFINITE);
}

TEST(SpoolerJournal, KilledExchangeIsRepaired) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"journal_test";
  CreateDirectoryW(folder.c_str(), nullptr);
  SetSpoolerJournalFolder(folder.c_str());
  SetSpoolerApi(&kFileSpooler);
  SetEnvironmentVariableW(L"KIT_JOURNAL_SPOOLER", (folder + L"\\spooler.txt").c_str());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);

  const struct {
    int hang;           // the change the child stops in (0: after all, mid-exchange)
    int switched;       // printers it leaves on "FILE:"
    const wchar_t* reconfigured;  // set up again by the operator before the restart
    const wchar_t* closed;        // cannot be opened at the first restart
    std::vector<std::wstring> restored;
  } cases[] = {
      {0, 3, L"B", L"C", {L"A"}},
      {3, 2, nullptr, nullptr, {L"A", L"B"}},  // killed before C was moved: C is left alone
  };
  for (const auto& c : cases) {
    SaveSpooler({{L"A", L"USB001"}, {L"B", L"USB001,USB002"}, {L"C", L"USB001"}, {L"K", L"COM1:"}});
    DeleteFileW(SpoolerJournalPath().c_str());
    SetEnvironmentVariableW(L"KIT_JOURNAL_CHILD", folder.c_str());
    SetEnvironmentVariableW(L"KIT_JOURNAL_HANG", std::to_wstring(c.hang).c_str());
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=SpoolerJournalChild.*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    SetEnvironmentVariableW(L"KIT_JOURNAL_CHILD", nullptr);
    SetEnvironmentVariableW(L"KIT_JOURNAL_HANG", nullptr);
    for (int wait = 0; wait < 300 && (OnFile(LoadSpooler()) != c.switched || JournalEntries() != 3); ++wait) Sleep(100);
    EXPECT_EQ(OnFile(LoadSpooler()), c.switched) << c.hang;
    EXPECT_EQ(JournalEntries(), 3u) << c.hang;
    // While the child lives its printers are its own.
    EXPECT_TRUE(RestoreJournalPrinters().empty()) << c.hang;
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);

    auto printers = LoadSpooler();
    if (c.reconfigured != nullptr) printers[c.reconfigured] = L"LPT1:";
    SaveSpooler(printers);
    if (c.closed != nullptr) SetEnvironmentVariableW(L"KIT_JOURNAL_CLOSED", c.closed);
    EXPECT_EQ(RestoreJournalPrinters(), c.restored) << c.hang;
    SetEnvironmentVariableW(L"KIT_JOURNAL_CLOSED", nullptr);
    if (c.closed != nullptr) {
      EXPECT_EQ(JournalEntries(), 1u);
      EXPECT_EQ(RestoreJournalPrinters(), std::vector<std::wstring>{c.closed});
    }
    const std::map<std::wstring, std::wstring> expected = {
        {L"A", L"USB001"}, {L"B", c.reconfigured ? L"LPT1:" : L"USB001,USB002"}, {L"C", L"USB001"}, {L"K", L"COM1:"}};
    EXPECT_TRUE(LoadSpooler() == expected) << c.hang;
    EXPECT_EQ(GetFileAttributesW(SpoolerJournalPath().c_str()), INVALID_FILE_ATTRIBUTES) << c.hang;
  }
  // An exchange that ends normally leaves no journal behind.
  RefreshSpoolerList();
  PrinterConnection usb = {};
  lstrcpyW(usb.portName, L"USB001");
  EXPECT_EQ(PortReplace(REPLACE_ON, &usb), PRT_SUCCESS);
  EXPECT_EQ(JournalEntries(), 3u);
  EXPECT_EQ(PortReplace(REPLACE_OFF, nullptr), PRT_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(SpoolerJournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
  FreeSpoolerList();
  SetSpoolerApi(nullptr);
  SetSpoolerJournalFolder(nullptr);
}

}  // namespace
