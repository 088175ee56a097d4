#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tick_wait.h"
#include "debug_log.h"
#include "result_codes.h"
#include "settings_types.h"
#include "spooler.h"
#include "spooler_journal.h"
#include "spooler_pattern.h"
#include "system_library_win.h"

SpoolerState g_spooler = {nullptr, 0, REPLACE_OFF};

namespace {

// The spooler's entry points, bound once from the system folder: winspool
// is not one of the system's known DLLs, so an import would be looked for
// in the program's folder first.
struct WinspoolEntries {
  decltype(&EnumPrintersW) enumPrinters;
  decltype(&OpenPrinterW) openPrinter;
  decltype(&GetPrinterW) getPrinter;
  decltype(&SetPrinterW) setPrinter;
  decltype(&ClosePrinter) closePrinter;
  decltype(&EnumPortsW) enumPorts;
};

const WinspoolEntries& Winspool() {
  static const WinspoolEntries entries = [] {
    HMODULE module = LoadSystemLibrary(L"winspool.drv");
    WinspoolEntries bound = {};
    bound.enumPrinters = SystemEntry<decltype(&EnumPrintersW)>(module, "EnumPrintersW");
    bound.openPrinter = SystemEntry<decltype(&OpenPrinterW)>(module, "OpenPrinterW");
    bound.getPrinter = SystemEntry<decltype(&GetPrinterW)>(module, "GetPrinterW");
    bound.setPrinter = SystemEntry<decltype(&SetPrinterW)>(module, "SetPrinterW");
    bound.closePrinter = SystemEntry<decltype(&ClosePrinter)>(module, "ClosePrinter");
    bound.enumPorts = SystemEntry<decltype(&EnumPortsW)>(module, "EnumPortsW");
    if (bound.enumPrinters == nullptr || bound.openPrinter == nullptr || bound.getPrinter == nullptr ||
        bound.setPrinter == nullptr || bound.closePrinter == nullptr || bound.enumPorts == nullptr) {
      WriteDebugLog("Winspool Err(winspool.drv)");
      bound = {};
    }
    return bound;
  }();
  return entries;
}

// A spooler that cannot be reached fails every call as a missing one would.
BOOL NoSpooler() {
  SetLastError(ERROR_MOD_NOT_FOUND);
  return FALSE;
}

BOOL SysEnumPrinters(DWORD flags, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned) {
  if (Winspool().enumPrinters == nullptr) return NoSpooler();
  return Winspool().enumPrinters(flags, nullptr, 2, buffer, bufferBytes, neededBytes, returned);
}

BOOL SysOpenPrinter(const wchar_t* printerName, HANDLE* printer) {
  if (Winspool().openPrinter == nullptr) return NoSpooler();
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  return Winspool().openPrinter(const_cast<wchar_t*>(printerName), printer, &defaults);
}

BOOL SysGetPrinter(HANDLE printer, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes) {
  if (Winspool().getPrinter == nullptr) return NoSpooler();
  return Winspool().getPrinter(printer, 2, buffer, bufferBytes, neededBytes);
}

BOOL SysSetPrinter(HANDLE printer, PRINTER_INFO_2W* info) {
  if (Winspool().setPrinter == nullptr) return NoSpooler();
  return Winspool().setPrinter(printer, 2, reinterpret_cast<BYTE*>(info), 0);
}

BOOL SysClosePrinter(HANDLE printer) {
  if (Winspool().closePrinter == nullptr) return NoSpooler();
  return Winspool().closePrinter(printer);
}

BOOL SysEnumPorts(BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned) {
  if (Winspool().enumPorts == nullptr) return NoSpooler();
  return Winspool().enumPorts(nullptr, 1, buffer, bufferBytes, neededBytes, returned);
}

void* SysAllocZeroed(size_t bytes) { return GlobalAlloc(GPTR, bytes); }

void SysFreeBlock(void* block) {
  if (block != nullptr) GlobalFree(block);
}

// Dispatches what is pending so the window stays alive between printers.
void SysPumpMessages() { PumpMessages(); }

const SpoolerApi kSystemApi = {SysEnumPrinters, SysOpenPrinter, SysGetPrinter,   SysSetPrinter,  SysClosePrinter,
                               SysAllocZeroed,  SysFreeBlock,   SysPumpMessages, SysEnumPorts};

const SpoolerApi* g_api = &kSystemApi;

// Only the local printers: a connection is never switched, and listing
// connections at level 2 asks every print server behind them, so one that
// is offline would freeze the window at each take-over.
constexpr DWORD kSwitchablePrinters = PRINTER_ENUM_LOCAL;

void ShowCursorShape(const wchar_t* shape) { SetCursor(LoadCursorW(nullptr, shape)); }

// ANSI copy for the log, cut to at most 255 bytes.
struct LogText {
  explicit LogText(const wchar_t* text) {
    bytes[0] = '\0';
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return;
    std::string whole(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, &whole[0], needed, nullptr, nullptr) <= 0) return;
    const size_t n = strnlen(whole.c_str(), sizeof(bytes) - 1);
    memcpy(bytes, whole.c_str(), n);
    bytes[n] = '\0';
  }
  char bytes[256];
};

bool CopyWhole(wchar_t* target, size_t capacity, const wchar_t* text) {
  if (text == nullptr) text = L"";
  const size_t n = wcslen(text);
  if (n >= capacity) return false;
  wmemcpy(target, text, n + 1);
  return true;
}

bool AnyPrinterSwitched() {
  for (int32_t i = 0; i < g_spooler.count; ++i) {
    if (g_spooler.entries[i].switched == 0) return true;
  }
  return false;
}

// Reads the printer's level-2 record into a fresh block; the caller frees
// *block whatever the result.
int32_t ReadPrinterInfo(HANDLE printer, const char* side, BYTE** block) {
  *block = nullptr;
  DWORD needed = 0;
  g_api->getPrinter(printer, nullptr, 0, &needed);
  if (needed != 0) *block = static_cast<BYTE*>(g_api->allocZeroed(needed));
  if (needed != 0 && *block == nullptr) {
    DebugLogF("PortReplace %s Err(PRT_ERR_GETPRMEMORY)", side);
    return PRT_ERR_GETPRMEMORY;
  }
  if (needed < sizeof(PRINTER_INFO_2W) || !g_api->getPrinter(printer, *block, needed, &needed)) {
    DebugLogF("PortReplace %s Err(PRT_ERR_GETPRINTER)", side);
    return PRT_ERR_GETPRINTER;
  }
  return PRT_SUCCESS;
}

// Points the printer at another port. The security descriptor is left out
// so that the spooler does not try to rewrite it (which needs more rights
// than changing the port).
bool SetPrinterPort(HANDLE printer, PRINTER_INFO_2W* info, const wchar_t* port) {
  info->pPortName = const_cast<wchar_t*>(port);
  info->pSecurityDescriptor = nullptr;
  return g_api->setPrinter(printer, info) != FALSE;
}

// The port list of every untouched printer as the spooler has it now: a
// printer re-plugged or re-configured since the snapshot is matched by the
// port it uses now, and put back on that port. A printer we moved keeps the
// port it had when it was moved. Left as it was when the spooler cannot be
// read.
void TakeLivePorts() {
  std::vector<BYTE> buffer;
  DWORD needed = 0;
  DWORD returned = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (g_api->enumPrinters(kSwitchablePrinters, buffer.empty() ? nullptr : buffer.data(),
                            static_cast<DWORD>(buffer.size()), &needed, &returned)) {
      break;
    }
    returned = 0;
    if (needed == 0 || needed <= buffer.size()) return;
    buffer.assign(needed, 0);
  }
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) {
    if (info[i].pPrinterName == nullptr) continue;
    for (int32_t j = 0; j < g_spooler.count; ++j) {
      SpoolerPrinterEntry& entry = g_spooler.entries[j];
      if (entry.switched == 0 || wcscmp(entry.printerName, info[i].pPrinterName) != 0) continue;
      wchar_t live[kSpoolerPortChars];
      if (CopyWhole(live, kSpoolerPortChars, info[i].pPortName)) wmemcpy(entry.portName, live, kSpoolerPortChars);
      break;
    }
  }
}

int32_t SwitchToFile(const std::wstring& pattern) {
  for (int32_t i = 0; i < g_spooler.count; ++i) {
    SpoolerPrinterEntry& entry = g_spooler.entries[i];
    if (!SpoolerPrinterSelected(pattern, entry.printerName, entry.portName)) continue;
    DebugLogF("PortReplace ON OpenPrinter = [%s] [%s]", LogText(entry.printerName).bytes,
              LogText(entry.portName).bytes);
    HANDLE printer = nullptr;
    if (!g_api->openPrinter(entry.printerName, &printer)) {
      // The exchange may still work; the operator sees any clash there.
      DebugLogF("PortReplace ON Err(OpenPrinter = FALSE(PRT_ERR_OPEN)) [%s]", LogText(entry.printerName).bytes);
      return PRT_SUCCESS;
    }
    BYTE* block = nullptr;
    int32_t result = ReadPrinterInfo(printer, "ON", &block);
    if (result == PRT_SUCCESS && pattern != L"FILE:") {
      auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block);
      wchar_t live[kSpoolerPortChars];
      if (info->cJobs != 0) {
        result = PRT_ERR_JOB;
        WriteDebugLog("PortReplace ON Err(PRT_ERR_JOB)");
      } else if (!CopyWhole(live, kSpoolerPortChars, info->pPortName) ||
                 !SpoolerPrinterSelected(pattern, entry.printerName, live)) {
        // Moved off the port since the list was read: not ours to switch.
      } else {
        // Put back later on the port it has now.
        wmemcpy(entry.portName, live, kSpoolerPortChars);
        JournalPrinterSwitching(entry.printerName, live);
        if (SetPrinterPort(printer, info, L"FILE:")) {
          entry.switched = 0;
          WriteDebugLog("PortReplace ON Success");
        } else {
          // Still on its port: an entry left behind would keep the printer
          // marked as ours and be repaired by a later start.
          JournalPrinterBack(entry.printerName);
          result = PRT_ERR_SETPRINTER;
          WriteDebugLog("PortReplace ON Err(PRT_ERR_SETPRINTER)");
        }
      }
      g_api->pumpMessages();
    }
    g_api->closePrinter(printer);
    g_api->freeBlock(block);
    if (result != PRT_SUCCESS) return result;
  }
  return PRT_SUCCESS;
}

int32_t SwitchBack() {
  int32_t result = PRT_SUCCESS;
  bool openFailed = false;
  for (int32_t i = 0; i < g_spooler.count; ++i) {
    SpoolerPrinterEntry& entry = g_spooler.entries[i];
    if (entry.switched != 0) continue;
    DebugLogF("PortReplace OFF OpenPrinter = [%s] [%s]", LogText(entry.printerName).bytes,
              LogText(entry.portName).bytes);
    HANDLE printer = nullptr;
    if (!g_api->openPrinter(entry.printerName, &printer)) {
      // Go on with the others: stopping here would leave printers that can
      // be put back on "FILE:". This one stays marked for the next try.
      openFailed = true;
      DebugLogF("PortReplace OFF Err(OpenPrinter FALSE) [%s]", LogText(entry.printerName).bytes);
      continue;
    }
    BYTE* block = nullptr;
    int32_t step = ReadPrinterInfo(printer, "OFF", &block);
    if (step == PRT_SUCCESS) {
      auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block);
      if (info->cJobs != 0) {
        step = PRT_ERR_JOB;
        WriteDebugLog("PortReplace OFF Err(PRT_ERR_JOB)");
      } else if (SetPrinterPort(printer, info, entry.portName)) {
        entry.switched = 1;
        JournalPrinterBack(entry.printerName);
        WriteDebugLog("PortReplace OFF SUCCESS");
      } else {
        step = PRT_ERR_SETPRINTER;
        WriteDebugLog("PortReplace OFF Err(PRT_ERR_SETPRINTER)");
      }
      g_api->pumpMessages();
    }
    g_api->closePrinter(printer);
    g_api->freeBlock(block);
    if (step != PRT_SUCCESS) result = step;
  }
  // Only this code has a message telling the operator that a printer stays
  // on "FILE:"; a later failure of another printer must not hide it.
  return openFailed ? PRT_ERR_OPEN : result;
}

void CarrySwitchedMarks(const SpoolerPrinterEntry* oldEntries, int32_t oldCount) {
  for (int32_t i = 0; i < oldCount; ++i) {
    if (oldEntries[i].switched != 0) continue;
    for (int32_t j = 0; j < g_spooler.count; ++j) {
      SpoolerPrinterEntry& entry = g_spooler.entries[j];
      if (wcscmp(entry.printerName, oldEntries[i].printerName) == 0) {
        wmemcpy(entry.portName, oldEntries[i].portName, kSpoolerPortChars);
        entry.switched = 0;
        break;
      }
    }
  }
}

}  // namespace

const SpoolerApi& SystemSpoolerApi() { return kSystemApi; }

const SpoolerApi& CurrentSpoolerApi() { return *g_api; }

const SpoolerApi* SetSpoolerApi(const SpoolerApi* api) {
  const SpoolerApi* previous = g_api;
  g_api = api != nullptr ? api : &kSystemApi;
  return previous;
}

std::vector<std::wstring> PrintersLeftOnFile() {
  std::vector<std::wstring> names;
  for (int32_t i = 0; i < g_spooler.count; ++i) {
    if (g_spooler.entries[i].switched == 0) names.emplace_back(g_spooler.entries[i].printerName);
  }
  return names;
}

void FreeSpoolerList() {
  g_api->freeBlock(g_spooler.entries);
  g_spooler.entries = nullptr;
  g_spooler.count = 0;
}

void RefreshSpoolerList() {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("RefreshSpoolerList Start");
  ShowCursorShape(IDC_WAIT);
  // The old list is kept until the new one stands: a printer that we moved
  // to "FILE:" keeps its own port and its mark across a new snapshot.
  SpoolerPrinterEntry* const oldEntries = g_spooler.entries;
  const int32_t oldCount = g_spooler.count;
  g_spooler.entries = nullptr;
  g_spooler.count = 0;

  BYTE* buffer = nullptr;
  DWORD returned = 0;
  bool ok = false;
  // A printer installed between the size query and the read makes the read
  // fail for want of room; ask again a few times before giving up.
  for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
    g_api->freeBlock(buffer);
    buffer = nullptr;
    DWORD needed = 0;
    returned = 0;
    if (g_api->enumPrinters(kSwitchablePrinters, nullptr, 0, &needed, &returned) || needed == 0) {
      returned = 0;
      ok = true;
      break;
    }
    buffer = static_cast<BYTE*>(g_api->allocZeroed(needed));
    if (buffer == nullptr) break;
    ok = g_api->enumPrinters(kSwitchablePrinters, buffer, needed, &needed, &returned) != FALSE;
  }
  if (!ok) {
    WriteDebugLog("RefreshSpoolerList Err(EnumPrinters)");
    returned = 0;
  }

  if (returned != 0) {
    auto* block = static_cast<SpoolerPrinterEntry*>(g_api->allocZeroed(returned * sizeof(SpoolerPrinterEntry)));
    if (block == nullptr) {
      WriteDebugLog("RefreshSpoolerList Err(PRT_ERR_MEMORY)");
    } else {
      const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer);
      int32_t count = 0;
      for (DWORD i = 0; i < returned; ++i) {
        SpoolerPrinterEntry& entry = block[count];
        // A name or port list that does not fit would be written back cut
        // short by REPLACE_OFF; such a printer is left out and never switched.
        if (info[i].pPrinterName == nullptr ||
            !CopyWhole(entry.printerName, kSpoolerNameChars, info[i].pPrinterName) ||
            !CopyWhole(entry.portName, kSpoolerPortChars, info[i].pPortName)) {
          DebugLogF("RefreshSpoolerList Err(too long) [%s]", LogText(info[i].pPrinterName ? info[i].pPrinterName : L"").bytes);
          ZeroMemory(&entry, sizeof(entry));
        } else {
          entry.switched = 1;
          ++count;
        }
        g_api->pumpMessages();
      }
      g_spooler.entries = block;
      g_spooler.count = count;
    }
  }
  g_api->freeBlock(buffer);
  CarrySwitchedMarks(oldEntries, oldCount);
  g_api->freeBlock(oldEntries);
  ShowCursorShape(IDC_ARROW);
  WriteDebugLog("RefreshSpoolerList End");
  WriteDebugLog(kLogLeave);
}

int32_t PortReplace(int32_t mode, const PrinterConnection* connection) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("PortReplace Start");
  // A give-back that left printers on "FILE:" is tried again even though the
  // state already says given back; otherwise they would stay there for good.
  if (mode == g_spooler.switchState && !(mode == REPLACE_OFF && AnyPrinterSwitched())) {
    WriteDebugLog("PortReplace RETURN");
    return PRT_SUCCESS;
  }
  ShowCursorShape(IDC_WAIT);
  int32_t result = PRT_SUCCESS;
  if (mode == REPLACE_ON) {
    g_spooler.switchState = REPLACE_ON;
    WriteDebugLog("PortReplace REPLACE_ON");
    std::wstring portName;
    if (connection != nullptr) {
      portName.assign(connection->portName, wcsnlen(connection->portName, kPortNameChars));
    }
    if (IsNoPortSelected(portName, NoneWord(g_settings.languageIndex))) {
      WriteDebugLog("PortReplace ON Err(PORT_ERR)");
    } else {
      TakeLivePorts();
      result = SwitchToFile(SpoolerPortPattern(portName));
    }
  } else {
    g_spooler.switchState = REPLACE_OFF;
    WriteDebugLog("PortReplace REPLACE_OFF");
    result = SwitchBack();
  }
  if (g_spooler.switchState == REPLACE_OFF) ShowCursorShape(IDC_ARROW);
  WriteDebugLog("PortReplace End");
  WriteDebugLog(kLogLeave);
  return result;
}

void PortReplaceList(const std::vector<std::wstring>& ports, std::vector<int32_t>* results) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("PortReplace Start");
  DebugLogF("PortReplace REPLACE_ON (%lu ports)", static_cast<unsigned long>(ports.size()));
  g_spooler.switchState = REPLACE_ON;
  results->assign(ports.size(), PRT_SUCCESS);
  TakeLivePorts();
  for (size_t i = 0; i < ports.size(); ++i) {
    if (IsNoPortSelected(ports[i], NoneWord(g_settings.languageIndex))) {
      WriteDebugLog("PortReplace ON Err(PORT_ERR)");
      continue;
    }
    // A printer already on "FILE:" (an earlier port of the list) is left as it is.
    (*results)[i] = SwitchToFile(SpoolerPortPattern(ports[i]));
  }
  WriteDebugLog("PortReplace End");
  WriteDebugLog(kLogLeave);
}
