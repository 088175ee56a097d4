// A print spooler for Romsmith and Tagsmith under test, loaded through their
// test seam (ROMSMITH_TEST_SEAMS). Wine's spooler has no printers on our ports, so
// without it no flow would switch a printer to "FILE:" and back.
//   KIT_FAKE_SPOOLER        "name=port;name=port;..." the printers at start
//   KIT_FAKE_SPOOLER_STATE  file rewritten after every change: a line
//                           "switches N" (changes made), then "name<TAB>port"
//                           per printer, so the test sees what was left.
//   KIT_FAKE_SPOOLER_STUCK  a printer that can be moved to "FILE:" but not
//                           back (its SetPrinter fails for any other port).
//   KIT_FAKE_SPOOLER_STUCK_TIMES  N: only its first N tries to go back fail.
//   KIT_FAKE_SPOOLER_LOCKED a printer that cannot be opened while it is on
//                           "FILE:": every give-back of it fails.
// USB printers (none exist under Wine) only when asked for:
//   KIT_FAKE_USB            a file with the number of plugged printers, read at
//                           each enumeration; each interface read pumps the
//                           program's messages after a short pause.
#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "core/spooler.h"
#include "core/usb_discovery.h"
#include "tests/win/fake_ports.h"

namespace {

struct Printer {
  std::wstring name;
  std::wstring port;
};

std::vector<Printer> g_printers;
std::vector<Printer> g_startPrinters;
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
  g_startPrinters = g_printers;
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
      if (g_printers[i].port == L"FILE:" && name == Environment(L"KIT_FAKE_SPOOLER_LOCKED")) break;
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
  static int failedPutBacks = 0;
  const std::wstring times = Environment(L"KIT_FAKE_SPOOLER_STUCK_TIMES");
  if (g_printers[i].name == Environment(L"KIT_FAKE_SPOOLER_STUCK") && lstrcmpW(info->pPortName, L"FILE:") != 0 &&
      (times.empty() || failedPutBacks < _wtoi(times.c_str()))) {
    ++failedPutBacks;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
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

// The usual ports and the ports of the printers at start.
BOOL PortsFake(BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned) {
  std::vector<std::wstring> extra;
  for (const Printer& p : g_startPrinters) extra.push_back(p.port);
  return LayOutFakePorts(FakeSpoolerPorts(extra), buffer, bufferBytes, neededBytes, returned);
}

const SpoolerApi kFakeSpooler = {EnumFake,    OpenFake,  GetFake, SetFake,  CloseFake,
                                 AllocZeroed, FreeBlock, NoPump,  PortsFake};

const HDEVINFO kUsbSet = reinterpret_cast<HDEVINFO>(static_cast<intptr_t>(0x5e7));

DWORD UsbPrinters() {
  int count = 0;
  if (FILE* in = _wfopen(Environment(L"KIT_FAKE_USB").c_str(), L"r")) {
    if (fscanf(in, "%d", &count) != 1) count = 0;
    fclose(in);
  }
  return static_cast<DWORD>(count);
}

std::wstring UsbPath(DWORD index) {
  return L"\\\\?\\usb#vid_fe5a&pid_0a01#KIT" + std::to_wstring(index + 1) + L"#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
}

HDEVINFO UsbClassDevs() { return kUsbSet; }

BOOL UsbEnumInterfaces(HDEVINFO, DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
  if (index >= UsbPrinters()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = index;
  return TRUE;
}

BOOL UsbInterfaceDetail(HDEVINFO, SP_DEVICE_INTERFACE_DATA* data, SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                        DWORD detailBytes, DWORD* requiredBytes) {
  std::wstring path = UsbPath(static_cast<DWORD>(data->Reserved));
  DWORD required =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(wchar_t));
  if (requiredBytes != nullptr) *requiredBytes = required;
  if (detail == nullptr || detailBytes < required) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  lstrcpyW(detail->DevicePath, path.c_str());
  return TRUE;
}

void UsbDestroySet(HDEVINFO) {}
// The fake printers' paths carry their serial numbers: no parent is asked.
BOOL UsbParentId(HDEVINFO, SP_DEVICE_INTERFACE_DATA*, wchar_t*, ULONG) { return FALSE; }
LONG UsbOpenKey(const wchar_t*, HKEY*) { return ERROR_FILE_NOT_FOUND; }
LONG UsbQueryValue(HKEY, const wchar_t*, DWORD*, BYTE*, DWORD*) { return ERROR_FILE_NOT_FOUND; }
void UsbCloseKey(HKEY) {}

void UsbPump() {
  Sleep(50);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

const UsbDiscoveryApi kFakeUsb = {UsbClassDevs, UsbEnumInterfaces, UsbInterfaceDetail, UsbDestroySet,
                                  UsbParentId,  UsbOpenKey,        UsbQueryValue,      UsbCloseKey,
                                  AllocZeroed,  FreeBlock,         UsbPump};

}  // namespace

extern "C" __declspec(dllexport) const UsbDiscoveryApi* KitTestUsbDiscoveryApi() {
  return UsbPrinters() > 0 ? &kFakeUsb : nullptr;
}

extern "C" __declspec(dllexport) const SpoolerApi* KitTestSpoolerApi() {
  static bool loaded = false;
  if (!loaded) Load();
  loaded = true;
  return &kFakeSpooler;
}
