// A print spooler for Romsmith under test, loaded through its test seam
// (ROMSMITH_TEST_SEAMS). Wine's spooler has no printers on our ports, so
// without it no flow would switch a printer to "FILE:" and back.
//   KIT_FAKE_SPOOLER        "name=port;name=port;..." the printers at start
//   KIT_FAKE_SPOOLER_STATE  file rewritten after every change: a line
//                           "switches N" (changes made), then "name<TAB>port"
//                           per printer, so the test sees what was left.
// The USB list keeps the system's discovery (no USB printers under Wine).
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/spooler.h"

namespace {

struct Printer {
  std::wstring name;
  std::wstring port;
};

std::vector<Printer> g_printers;
std::vector<bool> g_open;
int g_switches = 0;

std::wstring Environment(const wchar_t* name) {
  wchar_t value[4096] = {};
  DWORD chars = GetEnvironmentVariableW(name, value, 4096);
  return chars > 0 && chars < 4096 ? value : L"";
}

void SaveState() {
  std::wstring path = Environment(L"KIT_FAKE_SPOOLER_STATE");
  if (path.empty()) return;
  FILE* out = _wfopen(path.c_str(), L"w");
  if (!out) return;
  fprintf(out, "switches %d\n", g_switches);
  for (const Printer& p : g_printers) fprintf(out, "%ls\t%ls\n", p.name.c_str(), p.port.c_str());
  fclose(out);
}

void Load() {
  std::wstring list = Environment(L"KIT_FAKE_SPOOLER");
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find(L';', at);
    if (end == std::wstring::npos) end = list.size();
    std::wstring item = list.substr(at, end - at);
    size_t equals = item.find(L'=');
    if (equals != std::wstring::npos) g_printers.push_back({item.substr(0, equals), item.substr(equals + 1)});
    at = end + 1;
  }
  g_open.assign(g_printers.size(), false);
  SaveState();
}

// Level-2 records followed by their strings, as the spooler lays them out.
DWORD LayOut(size_t first, size_t count, BYTE* buffer, DWORD bufferBytes) {
  DWORD needed = static_cast<DWORD>(count * sizeof(PRINTER_INFO_2W));
  for (size_t i = first; i < first + count; ++i) {
    needed += static_cast<DWORD>((g_printers[i].name.size() + g_printers[i].port.size() + 2) * sizeof(wchar_t));
  }
  if (buffer == nullptr || bufferBytes < needed) return needed;
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
  auto* text = reinterpret_cast<wchar_t*>(buffer + count * sizeof(PRINTER_INFO_2W));
  for (size_t i = 0; i < count; ++i) {
    const Printer& p = g_printers[first + i];
    ZeroMemory(&info[i], sizeof(info[i]));
    info[i].pPrinterName = text;
    lstrcpyW(text, p.name.c_str());
    text += p.name.size() + 1;
    info[i].pPortName = text;
    lstrcpyW(text, p.port.c_str());
    text += p.port.size() + 1;
  }
  return needed;
}

int Index(HANDLE printer) {
  intptr_t i = reinterpret_cast<intptr_t>(printer) - 1;
  return i >= 0 && i < static_cast<intptr_t>(g_open.size()) && g_open[i] ? static_cast<int>(i) : -1;
}

BOOL EnumFake(DWORD, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned) {
  *neededBytes = LayOut(0, g_printers.size(), buffer, bufferBytes);
  if (buffer == nullptr || bufferBytes < *neededBytes) {
    *returned = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *returned = static_cast<DWORD>(g_printers.size());
  return TRUE;
}

BOOL OpenFake(const wchar_t* name, HANDLE* printer) {
  for (size_t i = 0; i < g_printers.size(); ++i) {
    if (g_printers[i].name == name) {
      g_open[i] = true;
      *printer = reinterpret_cast<HANDLE>(static_cast<intptr_t>(i + 1));
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PRINTER_NAME);
  return FALSE;
}

BOOL GetFake(HANDLE printer, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes) {
  int i = Index(printer);
  if (i < 0) return FALSE;
  *neededBytes = LayOut(static_cast<size_t>(i), 1, buffer, bufferBytes);
  if (buffer == nullptr || bufferBytes < *neededBytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

BOOL SetFake(HANDLE printer, PRINTER_INFO_2W* info) {
  int i = Index(printer);
  if (i < 0 || info->pPortName == nullptr) return FALSE;
  g_printers[i].port = info->pPortName;
  ++g_switches;
  SaveState();
  return TRUE;
}

BOOL CloseFake(HANDLE printer) {
  int i = Index(printer);
  if (i < 0) return FALSE;
  g_open[i] = false;
  return TRUE;
}

void* AllocZeroed(size_t bytes) { return GlobalAlloc(GPTR, bytes); }
void FreeBlock(void* block) { GlobalFree(block); }
// Every call returns at once: nothing to keep painted meanwhile.
void NoPump() {}

const SpoolerApi kFakeSpooler = {EnumFake, OpenFake, GetFake, SetFake, CloseFake, AllocZeroed, FreeBlock, NoPump};

}  // namespace

extern "C" __declspec(dllexport) const SpoolerApi* KitTestSpoolerApi() {
  static bool loaded = false;
  if (!loaded) Load();
  loaded = true;
  return &kFakeSpooler;
}
