#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tick_wait.h"
#include "debug_log.h"
#include "result_codes.h"
#include "settings_types.h"
#include "usb_device_path.h"
#include "usb_discovery.h"

UsbPrinterList g_usbList = {nullptr, 0, 0};

namespace {

// The USB printing device-interface class, {28d78fad-5a12-11d1-ae5b-0000f803a8c2}
// (not every SDK's headers define it).
const GUID kUsbPrintInterfaceClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

HDEVINFO SysGetClassDevs() {
  return SetupDiGetClassDevsW(&kUsbPrintInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

BOOL SysEnumInterfaces(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
  return SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterfaceClass, index, data);
}

BOOL SysGetInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                           DWORD detailBytes, DWORD* requiredBytes) {
  return SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailBytes, requiredBytes, nullptr);
}

void SysDestroyDeviceSet(HDEVINFO set) { SetupDiDestroyDeviceInfoList(set); }

BOOL SysGetParentDeviceId(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, wchar_t* id, ULONG idChars) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return FALSE;
  std::vector<BYTE> buffer(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA device;
  ZeroMemory(&device, sizeof(device));
  device.cbSize = sizeof(device);
  if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail, required, nullptr, &device)) return FALSE;
  DEVINST parent = 0;
  return CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS &&
         CM_Get_Device_IDW(parent, id, idChars, 0) == CR_SUCCESS;
}

LONG SysRegOpenKey(const wchar_t* subKey, HKEY* key) {
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, key);
}

LONG SysRegQueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) {
  return RegQueryValueExW(key, name, nullptr, type, data, dataBytes);
}

void SysRegCloseKey(HKEY key) { RegCloseKey(key); }

void* SysAllocZeroed(size_t bytes) { return GlobalAlloc(GPTR, bytes); }

void SysFreeBlock(void* block) {
  if (block != nullptr) GlobalFree(block);
}

// Dispatches what is pending so the window stays alive between devices.
void SysPumpMessages() { PumpMessages(); }

const UsbDiscoveryApi kSystemApi = {SysGetClassDevs,      SysEnumInterfaces, SysGetInterfaceDetail, SysDestroyDeviceSet,
                                    SysGetParentDeviceId, SysRegOpenKey,     SysRegQueryValue,      SysRegCloseKey,
                                    SysAllocZeroed,       SysFreeBlock,      SysPumpMessages};

const UsbDiscoveryApi* g_api = &kSystemApi;

// Stands in for the list when not even one entry can be allocated, so that
// callers always find an entry to show. Never freed.
UsbPrinterEntry g_fallbackEntry;

std::string Narrow(const std::wstring& text) {
  const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], needed, nullptr, nullptr) <= 0) return std::string();
  out.resize(strlen(out.c_str()));
  return out;
}

void CopyText(wchar_t* target, size_t capacity, const std::wstring& text) {
  size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  wmemcpy(target, text.c_str(), n);
  target[n] = L'\0';
}

void LogParseSteps(const UsbPathParts& parts) {
  static const char* const kStepNames[] = {"[vid_]", "[&]", "[pid_]", "[Start #]", "[End #]"};
  const int reached = static_cast<int>(parts.reached);
  for (int i = 0; i < reached && i < 5; ++i) DebugLogF("GetUSBHandle %s Success", kStepNames[i]);
  if (reached < 5) DebugLogF("GetUSBHandle %s Error", kStepNames[reached]);
}

// Reads "Port Number" of the interface's registry entry; false leaves the
// caller's "USB".
bool ReadPortNumber(const std::wstring& devicePath, uint32_t* portNumber) {
  const std::wstring keyPath = UsbDeviceParametersKey(devicePath);
  HKEY key = nullptr;
  if (keyPath.empty() || g_api->regOpenKey(keyPath.c_str(), &key) != ERROR_SUCCESS) {
    WriteDebugLog("GetUSBHandle [RegOpenKeyEx] Error");
    return false;
  }
  bool ok = false;
  DWORD type = 0;
  DWORD size = 0;
  if (g_api->regQueryValue(key, L"Port Number", &type, nullptr, &size) != ERROR_SUCCESS) {
    WriteDebugLog("GetUSBHandle [GET RegQueryValueEx Size] Error");
  } else {
    // The value is read into a 32-bit number whatever size the registry
    // reported, so an odd value can never write past it.
    DWORD value = 0;
    DWORD valueBytes = sizeof(value);
    if (size != sizeof(value) ||
        g_api->regQueryValue(key, L"Port Number", &type, reinterpret_cast<BYTE*>(&value), &valueBytes) !=
            ERROR_SUCCESS ||
        valueBytes != sizeof(value)) {
      WriteDebugLog("GetUSBHandle [GET RegQueryValueEx Value] Error");
    } else {
      WriteDebugLog("GetUSBHandle [GET RegQueryValueEx Value] Success");
      *portNumber = value;
      ok = true;
    }
  }
  g_api->regCloseKey(key);
  return ok;
}

void FillEntry(UsbPrinterEntry* entry, const UsbPathParts& parts, const std::wstring& devicePath) {
  const std::wstring label = UsbLabelText(parts);
  CopyText(entry->label, kUsbLabelChars, label);
  CopyText(entry->devicePath, kUsbDevicePathChars, devicePath);
  CopyText(entry->portName, kUsbPortNameChars, L"USB");
  uint32_t portNumber = 0;
  if (ReadPortNumber(devicePath, &portNumber)) CopyText(entry->portName, kUsbPortNameChars, UsbPortNameText(portNumber));
  DebugLogF("GetUSBHandle [GET] Success [%s]", Narrow(label).c_str());
}

// A printer that is one interface of a composite device has no serial
// number in its path; the composite device, its parent, carries it.
std::wstring ParentSerial(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (!g_api->getParentDeviceId(set, data, id, MAX_DEVICE_ID_LEN + 1)) {
    WriteDebugLog("GetUSBHandle [Parent] Error");
    return std::wstring();
  }
  return UsbSerialOfDeviceId(std::wstring(id, wcsnlen(id, MAX_DEVICE_ID_LEN)));
}

void FillNoneEntry(UsbPrinterEntry* entry) {
  const wchar_t* none = NoneWord(g_settings.languageIndex);
  CopyText(entry->label, kUsbLabelChars, none);
  CopyText(entry->devicePath, kUsbDevicePathChars, none);
  CopyText(entry->portName, kUsbPortNameChars, none);
}

const wchar_t* SelectedModelIdText() {
  if (g_settings.models == nullptr || g_settings.selectedModel < 0 ||
      g_settings.selectedModel > g_settings.modelCount) {
    return L"";
  }
  const ModelRecord& model = g_settings.models[g_settings.selectedModel];
  // The stored text is used only when it ends within its field.
  return wmemchr(model.usbIdText, L'\0', sizeof(model.usbIdText) / sizeof(wchar_t)) != nullptr ? model.usbIdText
                                                                                              : L"";
}

}  // namespace

const UsbDiscoveryApi& SystemUsbDiscoveryApi() { return kSystemApi; }

const UsbDiscoveryApi* SetUsbDiscoveryApi(const UsbDiscoveryApi* api) {
  const UsbDiscoveryApi* previous = g_api;
  g_api = api != nullptr ? api : &kSystemApi;
  return previous;
}

int32_t GetUSBHandle(const wchar_t* modelIdText, UsbPrinterEntry* entries, uint32_t bufferBytes,
                     uint32_t* sizeMeasure, int32_t* count) {
  WriteDebugLog(kLogEnter);
  WriteDebugLog("GetUSBHandle Start");
  int32_t result = PRT_ERR_NOPRINTER;
  int32_t matched = 0;
  uint32_t measure = 0;
  const std::wstring model = modelIdText != nullptr ? modelIdText : L"";
  // Only whole entries inside the caller's block are ever written.
  const uint32_t capacity = entries != nullptr ? bufferBytes / sizeof(UsbPrinterEntry) : 0;
  uint32_t filled = 0;

  HDEVINFO set = g_api->getClassDevs();
  if (set == INVALID_HANDLE_VALUE) {
    result = PRT_ERR_GETPRMEMORY;
  } else {
    WriteDebugLog("GetUSBHandle SetupDiGetClassDevs Success");
    WriteDebugLog("GetUSBHandle SetupDiEnumDeviceInterfaces(Strat)");
    SP_DEVICE_INTERFACE_DATA interfaceData;
    for (DWORD index = 0;; ++index) {
      ZeroMemory(&interfaceData, sizeof(interfaceData));
      interfaceData.cbSize = sizeof(interfaceData);
      if (!g_api->enumInterfaces(set, index, &interfaceData)) break;
      WriteDebugLog("GetUSBHandle SetupDiEnumDeviceInterfaces(GET)");

      DWORD required = 0;
      g_api->getInterfaceDetail(set, &interfaceData, nullptr, 0, &required);
      // One extra character of zeroes keeps the path terminated even if the
      // system reports a size without room for the terminator.
      const size_t allocBytes =
          (required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ? required : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) +
          sizeof(wchar_t);
      auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(g_api->allocZeroed(allocBytes));
      if (detail == nullptr) {
        result = PRT_ERR_MEMORY;
        WriteDebugLog("GetUSBHandle SetupDiGetDeviceInterfaceDetail Err(PRT_ERR_MEMORY)");
        break;
      }
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (required == 0 ||
          !g_api->getInterfaceDetail(set, &interfaceData, detail, static_cast<DWORD>(allocBytes - sizeof(wchar_t)),
                                     nullptr)) {
        g_api->freeBlock(detail);
        result = PRT_ERR_GETPRMEMORY;
        WriteDebugLog("GetUSBHandle SetupDiGetDeviceInterfaceDetail Err(PRT_ERR_GETPRMEMORY)");
        break;
      }
      WriteDebugLog("GetUSBHandle SetupDiGetDeviceInterfaceDetail Success");

      const size_t pathChars = (allocBytes - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
      const std::wstring path(detail->DevicePath, wcsnlen(detail->DevicePath, pathChars));
      g_api->freeBlock(detail);

      const UsbPathParts parts = ParseUsbDevicePath(path);
      LogParseSteps(parts);
      if (parts.usable) {
        measure += static_cast<uint32_t>(path.size()) + 1;
        const bool matches = UsbModelMatches(g_settings.usbSearchMode, parts, model);
        if (matches) {
          switch (g_settings.usbSearchMode) {
            case kUsbSearchAll:
              WriteDebugLog("GetUSBHandle [PID/VID_NONE] OK Success");
              break;
            case kUsbSearchVendorProduct:
              WriteDebugLog("GetUSBHandle [PID/VID] OK Success");
              break;
            default:
              WriteDebugLog("GetUSBHandle [PID] OK Success");
              break;
          }
          ++matched;
          if (filled < capacity) {
            UsbPathParts shown = parts;
            if (parts.composite) shown.serial = ParentSerial(set, &interfaceData);
            FillEntry(&entries[filled], shown, path);
            ++filled;
          }
        }
      }
      g_api->pumpMessages();
    }
  }

  if (matched != 0) {
    result = PRT_SUCCESS;
    WriteDebugLog("GetUSBHandle Success");
  } else {
    WriteDebugLog("GetUSBHandle None");
  }
  if (set != INVALID_HANDLE_VALUE) g_api->destroyDeviceSet(set);
  if (sizeMeasure != nullptr) *sizeMeasure = measure;
  if (count != nullptr) *count = matched;
  WriteDebugLog("GetUSBHandle End");
  WriteDebugLog(kLogLeave);
  return result;
}

void FreeUsbPrinterList() {
  if (g_usbList.entries != nullptr && g_usbList.entries != &g_fallbackEntry) g_api->freeBlock(g_usbList.entries);
  g_usbList.entries = nullptr;
  g_usbList.count = 0;
}

int32_t BuildUsbPrinterList() {
  FreeUsbPrinterList();
  const wchar_t* model = SelectedModelIdText();

  uint32_t measure = 0;
  int32_t counted = 0;
  GetUSBHandle(model, nullptr, 0, &measure, &counted);
  if (counted < 1) counted = 1;

  int32_t result = PRT_ERR_MEMORY;
  uint32_t capacity = static_cast<uint32_t>(counted);
  auto* block = static_cast<UsbPrinterEntry*>(g_api->allocZeroed(capacity * sizeof(UsbPrinterEntry)));
  if (block == nullptr) {
    // Room for the None entry at least.
    capacity = 1;
    block = static_cast<UsbPrinterEntry*>(g_api->allocZeroed(sizeof(UsbPrinterEntry)));
  } else {
    int32_t found = 0;
    result = GetUSBHandle(model, block, capacity * sizeof(UsbPrinterEntry), &measure, &found);
    if (result == PRT_SUCCESS) {
      // A printer plugged in since the count matched but was not written.
      g_usbList.entries = block;
      g_usbList.count = found < static_cast<int32_t>(capacity) ? found : static_cast<int32_t>(capacity);
      // A selection beyond a list that shrank would index past its block.
      if (g_usbList.selectedIndex >= g_usbList.count) g_usbList.selectedIndex = g_usbList.count - 1;
      if (g_usbList.selectedIndex < 0) g_usbList.selectedIndex = 0;
      return PRT_SUCCESS;
    }
    ZeroMemory(block, capacity * sizeof(UsbPrinterEntry));
  }
  if (block == nullptr) {
    ZeroMemory(&g_fallbackEntry, sizeof(g_fallbackEntry));
    block = &g_fallbackEntry;
  }
  g_usbList.entries = block;
  g_usbList.selectedIndex = 0;
  FillNoneEntry(&block[0]);
  g_usbList.count = 1;
  return result;
}
