#include "tools/process_figures.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

namespace soak {
namespace {

constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kSystemHandleInformation = 16;

using QuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using QueryProcess = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

// GetProcAddress hands out one generic pointer type; the cast goes through
// the type that stands for any function.
template <typename Fn>
Fn NtFunction(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

bool UnderWine() { return NtFunction<void (*)(void)>("wine_get_version") != nullptr; }

// The system-wide handle list, as Process Explorer counts a process's handles.
struct HandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleList {
  ULONG count;
  HandleEntry entries[1];
};

long long HandlesInSystemList(DWORD pid) {
  auto query = NtFunction<QuerySystem>("NtQuerySystemInformation");
  if (!query) return -1;
  std::vector<unsigned char> buffer(1 << 20);
  LONG status;
  for (;;) {
    ULONG needed = 0;
    status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status != kInfoLengthMismatch || buffer.size() > (256u << 20)) break;
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
  }
  if (status != 0) return -1;
  const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
  long long count = 0;
  for (ULONG i = 0; i < list->count; ++i) count += list->entries[i].ownerPid == pid;
  return count;
}

Figure Handles(HANDLE process, DWORD pid) {
  DWORD count = 0;
  if (GetProcessHandleCount(process, &count) && count > 0) return {count, "GetProcessHandleCount"};
  return {HandlesInSystemList(pid), "entries of the process in the system handle list (GetProcessHandleCount gave " +
                                        std::to_string(count) + ")"};
}

// GDI keeps its handle table in the process's memory, pointed to by the
// process environment block; a slot in use has a non-zero object type.
struct GdiHandleEntry {
  UINT64 object;
  ULONG owner;
  USHORT unique;
  UCHAR type;
  UCHAR flags;
  UINT64 userPointer;
};
constexpr size_t kGdiHandleSlots = 0x10000;
constexpr size_t kPebGdiTable = sizeof(void*) == 8 ? 0xF8 : 0x94;

long long GdiTableEntries(HANDLE process) {
  auto query = NtFunction<QueryProcess>("NtQueryInformationProcess");
  PROCESS_BASIC_INFORMATION basic = {};
  if (!query || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) return -1;
  void* table = nullptr;
  SIZE_T read = 0;
  const auto* peb = static_cast<const unsigned char*>(static_cast<void*>(basic.PebBaseAddress));
  if (!ReadProcessMemory(process, peb + kPebGdiTable, &table, sizeof(table), &read) || !table) return -1;
  std::vector<GdiHandleEntry> entries(kGdiHandleSlots);
  if (!ReadProcessMemory(process, table, entries.data(), entries.size() * sizeof(GdiHandleEntry), &read)) return -1;
  long long used = 0;
  for (const GdiHandleEntry& entry : entries) used += entry.type != 0;
  return used;
}

Figure GdiObjects(HANDLE process) {
  if (DWORD count = GetGuiResources(process, GR_GDIOBJECTS)) return {count, "GetGuiResources"};
  return {GdiTableEntries(process),
          "slots in use in the process's GDI handle table, stock objects included (GetGuiResources gave 0)"};
}

struct WindowCount {
  DWORD pid;
  long long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM data) {
  ++reinterpret_cast<WindowCount*>(data)->count;
  return TRUE;
}

void CountTree(HWND window, WindowCount* windows) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != windows->pid) return;
  ++windows->count;
  EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(windows));
}

BOOL CALLBACK CountTop(HWND window, LPARAM data) {
  CountTree(window, reinterpret_cast<WindowCount*>(data));
  return TRUE;
}

Figure UserObjects(HANDLE process, DWORD pid) {
  if (DWORD count = GetGuiResources(process, GR_USEROBJECTS)) return {count, "GetGuiResources"};
  WindowCount windows = {pid, 0};
  EnumWindows(CountTop, reinterpret_cast<LPARAM>(&windows));
  for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
       w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) {
    CountTree(w, &windows);
  }
  return {windows.count, "the process's windows, hidden and message-only ones included (GetGuiResources gave 0)"};
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  if (FILE* file = _wfopen(path.c_str(), L"rb")) {
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.append(chunk, n);
    fclose(file);
  }
  return bytes;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// The Linux process whose command line starts with `exePath` (Wine shows a
// program's Windows path there), through Wine's mapping of / as drive Z:.
std::wstring LinuxProcFolder(const std::wstring& exePath) {
  std::string wanted = Lower(std::string(exePath.begin(), exePath.end()));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return L"";
  std::wstring match;
  do {
    if (!iswdigit(found.cFileName[0])) continue;
    std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
    std::string commandLine = ReadWholeFile(folder + L"\\cmdline");
    if (Lower(commandLine.substr(0, commandLine.find('\0'))) == wanted) {
      match = folder;
      break;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return match;
}

long long StatusKilobytes(const std::string& status, const char* key) {
  size_t at = status.find(std::string("\n") + key + ":");
  if (at == std::string::npos) return -1;
  return atoll(status.c_str() + at + strlen(key) + 2);
}

Figure PrivateBytes(HANDLE process, const std::wstring& exePath) {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  const bool have = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                         sizeof(counters));
  if (have && !UnderWine()) return {static_cast<long long>(counters.PrivateUsage), "GetProcessMemoryInfo PrivateUsage"};
  // Wine reports the Linux swap use as PrivateUsage. The size of the
  // process's private writable mappings is what a commit of private memory
  // grows (Wine commits a reservation by making it writable).
  std::wstring folder = LinuxProcFolder(exePath);
  long long kilobytes = folder.empty() ? -1 : StatusKilobytes(ReadWholeFile(folder + L"\\status"), "VmData");
  return {kilobytes < 0 ? -1 : kilobytes * 1024,
          "VmData of the Linux process, its private writable memory (Wine's PrivateUsage is its swap use: " +
              std::to_string(have ? counters.PrivateUsage : 0) + ")"};
}

// The threads the system lists for the process: a worker that outlived its
// run would stay in the list.
Figure Threads(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {};
  long long count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == pid ? 1 : 0;
  }
  CloseHandle(snapshot);
  return {count, "threads of the process in a Toolhelp snapshot"};
}

std::string Shown(const Figure& figure) {
  return figure.value < 0 ? std::string("not measured") : std::to_string(figure.value);
}

std::string Kilobytes(const Figure& figure) {
  return figure.value < 0 ? std::string("not measured") : std::to_string(figure.value / 1024) + " KB";
}

std::string Difference(long long before, long long after) {
  if (before < 0 || after < 0) return "not measured";
  char text[32];
  snprintf(text, sizeof(text), "%+lld", after - before);
  return text;
}

double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

double ProcessorSeconds(DWORD pid, const std::wstring& exePath, std::string* source) {
  if (!UnderWine()) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    FILETIME created, exited, kernel, user;
    const bool have = process && GetProcessTimes(process, &created, &exited, &kernel, &user);
    if (process) CloseHandle(process);
    if (!have) return -1;
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    if (source) *source = "GetProcessTimes";
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
  }
  // Wine does not keep other processes' times: the Linux process's utime
  // and stime (fields 14 and 15 of its stat, in USER_HZ ticks of 1/100 s).
  const std::wstring folder = LinuxProcFolder(exePath);
  if (folder.empty()) return -1;
  const std::string stat = ReadWholeFile(folder + L"\\stat");
  const size_t name = stat.rfind(')');
  if (name == std::string::npos) return -1;
  unsigned long long utime = 0, stime = 0;
  if (sscanf(stat.c_str() + name + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) {
    return -1;
  }
  if (source) *source = "utime and stime of the Linux process";
  return static_cast<double>(utime + stime) / 100.0;
}

ProcessFigures Sample(DWORD pid, const std::wstring& exePath) {
  ProcessFigures figures;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return figures;
  figures.handles = Handles(process, pid);
  figures.threads = Threads(pid);
  figures.gdiObjects = GdiObjects(process);
  figures.userObjects = UserObjects(process, pid);
  figures.privateBytes = PrivateBytes(process, exePath);
  CloseHandle(process);
  return figures;
}

bool SoakTable::Print() const {
  printf("| runs | seconds per run | handles | threads | GDI objects | USER objects | private bytes |\n");
  printf("|---|---|---|---|---|---|---|\n");
  printf("| before the first | | %s | %s | %s | %s | %s |\n", Shown(start_.handles).c_str(),
         Shown(start_.threads).c_str(), Shown(start_.gdiObjects).c_str(), Shown(start_.userObjects).c_str(),
         Kilobytes(start_.privateBytes).c_str());
  for (const Block& b : blocks_) {
    printf("| %d-%d | %.3f | %s | %s | %s | %s | %s |\n", b.firstRun, b.lastRun, b.secondsPerRun,
           Shown(b.after.handles).c_str(), Shown(b.after.threads).c_str(), Shown(b.after.gdiObjects).c_str(),
           Shown(b.after.userObjects).c_str(), Kilobytes(b.after.privateBytes).c_str());
  }
  printf("\nFigures after the last run of each block. Handles: %s. GDI objects: %s. USER objects: %s. "
         "Private bytes: %s.\n\n",
         start_.handles.source.c_str(), start_.gdiObjects.source.c_str(), start_.userObjects.source.c_str(),
         start_.privateBytes.source.c_str());
  if (blocks_.size() < 2) {
    printf("%s: fewer than two blocks of runs, no comparison.\n", operation_.c_str());
    return false;
  }
  const ProcessFigures& first = blocks_.front().after;
  const ProcessFigures& last = blocks_.back().after;
  const double firstTime = blocks_.front().secondsPerRun;
  const double lastTime = blocks_.back().secondsPerRun;
  auto same = [](const Figure& a, const Figure& b) { return a.value >= 0 && a.value == b.value; };
  const long long grown = last.privateBytes.value - first.privateBytes.value;
  const bool memoryKept = first.privateBytes.value >= 0 && last.privateBytes.value >= 0 && grown <= 1024 * 1024;
  // The machine is shared: a quarter more time per run is within its noise.
  const bool notSlower = lastTime <= firstTime * 1.25;
  const bool ok = same(first.handles, last.handles) && same(first.threads, last.threads) &&
                  same(first.gdiObjects, last.gdiObjects) &&
                  same(first.userObjects, last.userObjects) && memoryKept && notSlower;
  printf("%s, first block to last block: handles %s, threads %s, GDI objects %s, USER objects %s, private bytes "
         "%s KB, time per run %.3f s to %.3f s: %s.\n",
         operation_.c_str(), Difference(first.handles.value, last.handles.value).c_str(),
         Difference(first.threads.value, last.threads.value).c_str(),
         Difference(first.gdiObjects.value, last.gdiObjects.value).c_str(),
         Difference(first.userObjects.value, last.userObjects.value).c_str(),
         Difference(first.privateBytes.value / 1024, last.privateBytes.value / 1024).c_str(), firstTime, lastTime,
         ok ? "no growth, no slowing down" : "GROWTH OR SLOWING DOWN");
  return ok;
}

bool Soak(const std::string& operation, DWORD pid, const std::wstring& exePath, int runs,
          const std::function<bool(int run)>& run) {
  // Blocks of 50 runs; a short trial run still gets four blocks.
  const int blockSize = std::max(1, std::min(50, runs / 4));
  SoakTable table(operation);
  table.SetStart(Sample(pid, exePath));
  Block block;
  block.firstRun = 1;
  double blockStarted = Now();
  for (int i = 1; i <= runs; ++i) {
    if (!run(i)) {
      printf("%s: run %d failed\n", operation.c_str(), i);
      table.Print();
      return false;
    }
    if (i % blockSize == 0 || i == runs) {
      block.lastRun = i;
      block.secondsPerRun = (Now() - blockStarted) / (i - block.firstRun + 1);
      block.after = Sample(pid, exePath);
      table.Add(block);
      fprintf(stderr, "%s: %d of %d runs, %.3f s per run\n", operation.c_str(), i, runs, block.secondsPerRun);
      block.firstRun = i + 1;
      blockStarted = Now();
    }
  }
  return table.Print();
}

}  // namespace soak
