// A run killed in the middle of an exchange: a child process (this program,
// started again on the child test) moves printers to "FILE:" through a fake
// spooler whose state lives in a file, and is ended by TerminateProcess. The
// start-up repair must then put every recorded printer back.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>
#include <string>

#include "core/elevated_files_win.h"
#include "core/port_journal.h"
#include "core/result_codes.h"
#include "core/run_report_files.h"
#include "core/settings_types.h"
#include "core/spooler.h"
#include "core/spooler_journal.h"
#include "tests/win/fake_ports.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  DWORD chars = GetEnvironmentVariableW(name, value, MAX_PATH);
  return chars > 0 && chars < MAX_PATH ? value : L"";
}

// The fake spooler: "name<TAB>port" lines in the file named by
// KIT_JOURNAL_SPOOLER, read before and written after every call, one process
// at a time. A printer named in KIT_JOURNAL_CLOSED cannot be opened, one
// named in KIT_JOURNAL_REFUSE cannot be moved to "FILE:"; the change
// numbered KIT_JOURNAL_HANG (from 1) never returns, as in a program stopped
// there; each change takes KIT_JOURNAL_SLOW milliseconds.
struct SpoolerFileLock {
  SpoolerFileLock() : mutex(CreateMutexW(nullptr, FALSE, L"kit_journal_fake_spooler")) {
    WaitForSingleObject(mutex, INFINITE);
  }
  ~SpoolerFileLock() {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  HANDLE mutex;
};

std::map<std::wstring, std::wstring> LoadSpooler() {
  SpoolerFileLock lock;
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
  SpoolerFileLock lock;
  std::wofstream out(Env(L"KIT_JOURNAL_SPOOLER").c_str(), std::ios::trunc);
  for (const auto& p : printers) out << p.first << L'\t' << p.second << L'\n';
}

std::u16string ToU16(const wchar_t* text) { return std::u16string(text, text + lstrlenW(text)); }

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

BOOL FileEnum(DWORD, BYTE* buffer, DWORD bytes, DWORD* needed, DWORD* returned) {
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
  Sleep(_wtoi(Env(L"KIT_JOURNAL_SLOW").c_str()));
  if (Env(L"KIT_JOURNAL_REFUSE") == g_openName && lstrcmpW(info->pPortName, L"FILE:") == 0) return FALSE;
  SpoolerFileLock lock;
  auto printers = LoadSpooler();
  printers[g_openName] = info->pPortName;
  SaveSpooler(printers);
  return TRUE;
}

BOOL FileClose(HANDLE) { return TRUE; }
void* Alloc(size_t bytes) { return GlobalAlloc(GPTR, bytes); }
void Free(void* block) { GlobalFree(block); }
void NoPump() {}
const SpoolerApi kFileSpooler = {FileEnum, FileOpen, FileGet, FileSet, FileClose, Alloc, Free, NoPump, UsualFakePorts};

// Read with every sharing right, so that the look never stops a program from
// moving its new journal over the file.
size_t JournalEntries() {
  HANDLE file = CreateFileW(SpoolerJournalPath().c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<uint8_t> bytes(1 << 16);
  DWORD got = 0;
  if (file != INVALID_HANDLE_VALUE) {
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
    CloseHandle(file);
  }
  return ParsePortJournal(bytes.data(), got).entries.size();
}

int OnFile(const std::map<std::wstring, std::wstring>& printers) {
  int n = 0;
  for (const auto& p : printers) n += p.second == L"FILE:" ? 1 : 0;
  return n;
}

// Points the journal and the fake spooler at the test folder.
std::wstring UseTestFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"journal_test";
  CreateDirectoryW(folder.c_str(), nullptr);
  SetSpoolerJournalFolder(folder.c_str());
  SetSpoolerApi(&kFileSpooler);
  SetEnvironmentVariableW(L"KIT_JOURNAL_SPOOLER", (folder + L"\\spooler.txt").c_str());
  return folder;
}

// Starts this program again on one child test, with the environment as set.
bool StartChild(const wchar_t* test, PROCESS_INFORMATION* child) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=SpoolerJournalChild." + test;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  *child = {};
  return CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, child) != FALSE;
}

void KillChild(PROCESS_INFORMATION* child) {
  TerminateProcess(child->hProcess, 9);
  WaitForSingleObject(child->hProcess, 10000);
  CloseHandle(child->hProcess);
  CloseHandle(child->hThread);
}

// Runs only when started by the tests below: with KIT_JOURNAL_REPAIR, a
// program's start-up repair KIT_JOURNAL_DELAY ms after the start signal;
// then an exchange on KIT_JOURNAL_PORT (USB001 without), left switched
// until killed.
TEST(SpoolerJournalChild, SwitchAndWait) {
  const std::wstring folder = Env(L"KIT_JOURNAL_CHILD");
  if (folder.empty()) GTEST_SKIP() << "started by the SpoolerJournal tests only";
  SetSpoolerJournalFolder(folder.c_str());
  SetSpoolerApi(&kFileSpooler);
  if (!Env(L"KIT_JOURNAL_REPAIR").empty()) {
    WaitForSingleObject(OpenEventW(SYNCHRONIZE, FALSE, L"kit_journal_go"), 30000);
    Sleep(_wtoi(Env(L"KIT_JOURNAL_DELAY").c_str()));
    RestoreJournalPrinters();
  }
  RefreshSpoolerList();
  PrinterConnection connection = {};
  lstrcpyW(connection.portName, Env(L"KIT_JOURNAL_PORT").empty() ? L"USB001" : Env(L"KIT_JOURNAL_PORT").c_str());
  PortReplace(REPLACE_ON, &connection);
  Sleep(INFINITE);
}

TEST(SpoolerJournal, KilledExchangeIsRepaired) {
  const std::wstring folder = UseTestFolder();
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
    PROCESS_INFORMATION child;
    ASSERT_TRUE(StartChild(L"SwitchAndWait", &child));
    SetEnvironmentVariableW(L"KIT_JOURNAL_CHILD", nullptr);
    SetEnvironmentVariableW(L"KIT_JOURNAL_HANG", nullptr);
    for (int wait = 0; wait < 300 && (OnFile(LoadSpooler()) != c.switched || JournalEntries() != 3); ++wait) Sleep(100);
    EXPECT_EQ(OnFile(LoadSpooler()), c.switched) << c.hang;
    EXPECT_EQ(JournalEntries(), 3u) << c.hang;
    // While the child lives its printers are its own.
    EXPECT_TRUE(RestoreJournalPrinters().empty()) << c.hang;
    KillChild(&child);

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

// Romsmith and Tagsmith at once, each repairing at its start and switching
// its own port while the other does the same: no program may drop the
// other's entries or put back the other's printers, and a printer that
// could not be moved leaves no entry.
TEST(SpoolerJournal, TwoProgramsAtOnce) {
  const std::wstring folder = UseTestFolder();
  const std::map<std::wstring, std::wstring> ports = {
      {L"A1", L"USB001"}, {L"A2", L"USB001"}, {L"A3", L"USB001"}, {L"R", L"USB001"}, {L"B1", L"USB002"},
      {L"B2", L"USB002"}, {L"B3", L"USB002"}, {L"L1", L"LPT3:"},  {L"L2", L"LPT3:"}, {L"L3", L"LPT3:"},
      {L"L4", L"LPT3:"}};
  // L1..L4 were left on "FILE:" by a run killed earlier.
  auto printers = ports;
  std::vector<PortJournalEntry> left;
  for (const wchar_t* name : {L"L1", L"L2", L"L3", L"L4"}) {
    printers[name] = L"FILE:";
    left.push_back({ToU16(name), u"LPT3:"});
  }
  SaveSpooler(printers);
  std::string text;
  ASSERT_TRUE(FormatPortJournal(left, &text));
  std::ofstream(SpoolerJournalPath().c_str(), std::ios::binary | std::ios::trunc) << text;

  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"kit_journal_go");
  SetEnvironmentVariableW(L"KIT_JOURNAL_CHILD", folder.c_str());
  SetEnvironmentVariableW(L"KIT_JOURNAL_REPAIR", L"1");
  SetEnvironmentVariableW(L"KIT_JOURNAL_REFUSE", L"R");
  SetEnvironmentVariableW(L"KIT_JOURNAL_SLOW", L"150");
  // The second program starts while the first is putting printers back.
  PROCESS_INFORMATION children[2];
  const wchar_t* childPorts[2][2] = {{L"USB001", L"0"}, {L"USB002", L"100"}};
  for (int i = 0; i < 2; ++i) {
    SetEnvironmentVariableW(L"KIT_JOURNAL_PORT", childPorts[i][0]);
    SetEnvironmentVariableW(L"KIT_JOURNAL_DELAY", childPorts[i][1]);
    ASSERT_TRUE(StartChild(L"SwitchAndWait", &children[i]));
  }
  for (const wchar_t* name : {L"KIT_JOURNAL_CHILD", L"KIT_JOURNAL_REPAIR", L"KIT_JOURNAL_REFUSE", L"KIT_JOURNAL_SLOW",
                              L"KIT_JOURNAL_PORT", L"KIT_JOURNAL_DELAY"}) {
    SetEnvironmentVariableW(name, nullptr);
  }
  SetEvent(go);
  // The leftovers back on their port, every printer of both exchanges on
  // "FILE:" with its entry, and none for the printer that refused.
  auto switched = ports;
  for (const wchar_t* name : {L"A1", L"A2", L"A3", L"B1", L"B2", L"B3"}) switched[name] = L"FILE:";
  for (int wait = 0; wait < 300 && !(LoadSpooler() == switched && JournalEntries() == 6); ++wait) Sleep(100);
  EXPECT_TRUE(LoadSpooler() == switched);
  EXPECT_EQ(JournalEntries(), 6u) << "an entry lost, or one left by the refused printer";
  for (PROCESS_INFORMATION& child : children) KillChild(&child);
  CloseHandle(go);

  EXPECT_EQ(RestoreJournalPrinters().size(), 6u);
  EXPECT_TRUE(LoadSpooler() == ports);
  EXPECT_EQ(GetFileAttributesW(SpoolerJournalPath().c_str()), INVALID_FILE_ATTRIBUTES);
  SetSpoolerApi(nullptr);
  SetSpoolerJournalFolder(nullptr);
}

// Without a journal (no folder for it, or one locked by the other program)
// the printer is still marked: another start's repair leaves it alone.
TEST(SpoolerJournal, SwitchWithoutAJournalKeepsItsMark) {
  const std::wstring folder = UseTestFolder();
  SaveSpooler({{L"A", L"USB001"}, {L"K", L"COM1:"}});
  DeleteFileW(SpoolerJournalPath().c_str());
  // A folder below a file can never be made.
  SetEnvironmentVariableW(L"KIT_JOURNAL_CHILD", (folder + L"\\spooler.txt\\journal").c_str());
  PROCESS_INFORMATION child;
  ASSERT_TRUE(StartChild(L"SwitchAndWait", &child));
  SetEnvironmentVariableW(L"KIT_JOURNAL_CHILD", nullptr);
  for (int wait = 0; wait < 300 && OnFile(LoadSpooler()) != 1; ++wait) Sleep(100);
  ASSERT_EQ(OnFile(LoadSpooler()), 1);
  std::string text;
  ASSERT_TRUE(FormatPortJournal({{u"A", u"USB001"}}, &text));
  std::ofstream(SpoolerJournalPath().c_str(), std::ios::binary | std::ios::trunc) << text;
  EXPECT_TRUE(RestoreJournalPrinters().empty()) << "put back in the middle of the other program's exchange";
  KillChild(&child);
  EXPECT_EQ(RestoreJournalPrinters(), std::vector<std::wstring>{L"A"});
  SetSpoolerApi(nullptr);
  SetSpoolerJournalFolder(nullptr);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Wine makes no link through CreateSymbolicLinkW but shows a unix one as a
// reparse point, and starts /bin/ln given by its path. False away from Wine.
bool MakeUnixLink(const std::wstring& target, const std::wstring& link) {
  using ToUnix = char* (*)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return false;
  char* from = toUnix(target.c_str());
  char* to = toUnix(link.c_str());
  std::string command = std::string("/bin/ln -s ") + (from ? from : "") + " " + (to ? to : "");
  HeapFree(GetProcessHeap(), 0, from);
  HeapFree(GetProcessHeap(), 0, to);
  std::wstring wide(command.begin(), command.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\bin\\ln", &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // The handle of a unix process does not wait for it: look for the link.
  for (int wait = 0; wait < 100 && !Exists(link); ++wait) Sleep(20);
  return Exists(link);
}

std::string FileText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Elevated, an old journal in the user's folder is taken over once, through
// the usual checks; no link the user's folder holds leads a write elsewhere.
TEST(SpoolerJournal, ElevatedJournalAndTheUsersFolder) {
  const std::wstring folder = UseTestFolder();
  const std::wstring user = folder + L"\\user";
  const std::wstring admin = folder + L"\\admin";
  CreateDirectoryW(user.c_str(), nullptr);
  SetSpoolerJournalFolder(user.c_str());
  SetSpoolerJournalAdminFolder(admin.c_str());
  ASSERT_EQ(SpoolerJournalPath(), admin + L"\\PortJournal.txt");

  SaveSpooler({{L"A", L"FILE:"}, {L"B", L"FILE:"}, {L"C", L"FILE:"}, {L"K", L"COM1:"}});
  std::string old;
  ASSERT_TRUE(FormatPortJournal({{u"A", u"USB001"},
                                 {u"\\\\evil\\A", u"USB001"},
                                 {u"B", u"USB002,LPT9:"},
                                 {u"C", u"C:\\Windows\\System32\\evil.dll"},
                                 {u"K", u"COM1:"}},
                                &old));
  std::ofstream((user + L"\\PortJournal.txt").c_str(), std::ios::binary) << old;
  EXPECT_EQ(RestoreJournalPrinters(), std::vector<std::wstring>{L"A"});
  const std::map<std::wstring, std::wstring> expected = {
      {L"A", L"USB001"}, {L"B", L"FILE:"}, {L"C", L"FILE:"}, {L"K", L"COM1:"}};
  EXPECT_TRUE(LoadSpooler() == expected) << "a refused entry was acted on";
  EXPECT_FALSE(Exists(user + L"\\PortJournal.txt")) << "the old journal was not taken over";
  EXPECT_FALSE(Exists(SpoolerJournalPath())) << "refused entries were carried over";

  const std::wstring elsewhere = folder + L"\\elsewhere";
  const std::wstring victim = folder + L"\\victim.txt";
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  std::ofstream(victim.c_str(), std::ios::binary | std::ios::trunc) << "keep";
  const std::wstring reports = user + L"\\Reports";
  if (!MakeUnixLink(elsewhere, reports)) GTEST_SKIP() << "no unix links here";
  EXPECT_FALSE(AppendSerialRecord(SerialRecord(), 1, ReportTries::kOnce, nullptr)) << "written through a linked reports folder";
  EXPECT_FALSE(Exists(elsewhere + L"\\SerialNumbers.txt"));

  // A plain reports folder whose files are links.
  const std::wstring other = folder + L"\\user2";
  CreateDirectoryW(other.c_str(), nullptr);
  SetSpoolerJournalFolder(other.c_str());
  SetSpoolerJournalAdminFolder(admin.c_str());
  const std::wstring files = other + L"\\Reports";
  ASSERT_TRUE(MakePlainFolder(files, nullptr));
  ASSERT_TRUE(MakeUnixLink(victim, files + L"\\SerialNumbers.txt"));
  ASSERT_TRUE(MakeUnixLink(victim, files + L"\\Write.json"));
  ASSERT_TRUE(MakeUnixLink(victim, other + L"\\PortJournal.txt"));
  EXPECT_FALSE(AppendSerialRecord(SerialRecord(), 1, ReportTries::kOnce, nullptr)) << "appended through a link";
  EXPECT_TRUE(ReplacePlainFile(files + L"\\Write.json", "{}", nullptr, "test")) << "a link is replaced, not followed";
  EXPECT_EQ(FileText(files + L"\\Write.json"), "{}");
  // The old journal as a link: not read, not deleted, its target untouched.
  EXPECT_TRUE(RestoreJournalPrinters().empty());
  EXPECT_EQ(FileText(victim), "keep");
  EXPECT_TRUE(Exists(victim));

  SetSpoolerJournalAdminFolder(nullptr);
  SetSpoolerJournalFolder(nullptr);
  SetSpoolerApi(nullptr);
}

}  // namespace
