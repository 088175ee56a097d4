// USB printer discovery: the list of connected USB printers of the selected
// model, each with its label, device-interface path and spooler port name.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>

constexpr int kUsbLabelChars = 256;
constexpr int kUsbDevicePathChars = 260;
constexpr int kUsbPortNameChars = 256;

struct UsbPrinterEntry {
  wchar_t label[kUsbLabelChars];            // "fe5a/0a01/(Serial No:X1)"
  wchar_t devicePath[kUsbDevicePathChars];  // what PortOpen opens
  wchar_t portName[kUsbPortNameChars];      // "USB001", or "USB" when unknown
};

// The list that BuildUsbPrinterList keeps: one zero-filled global-heap block
// of count entries (at least one after a build), and the operator's choice.
struct UsbPrinterList {
  UsbPrinterEntry* entries;
  int32_t count;
  int32_t selectedIndex;
};

extern UsbPrinterList g_usbList;

// The system calls discovery makes, so that tests can stand in for SetupAPI
// and the registry (neither reports USB printers under emulation).
struct UsbDiscoveryApi {
  HDEVINFO (*getClassDevs)();  // present USB printing interfaces; INVALID_HANDLE_VALUE on failure
  BOOL (*enumInterfaces)(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* data);
  BOOL (*getInterfaceDetail)(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                             DWORD detailBytes, DWORD* requiredBytes);
  void (*destroyDeviceSet)(HDEVINFO set);
  // The device instance id of the parent of the interface's device, as
  // "USB\VID_FE5A&PID_0A01\X1"; idChars counts the terminator.
  BOOL (*getParentDeviceId)(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, wchar_t* id, ULONG idChars);
  LONG (*regOpenKey)(const wchar_t* subKey, HKEY* key);  // under HKEY_LOCAL_MACHINE, for reading
  LONG (*regQueryValue)(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes);
  void (*regCloseKey)(HKEY key);
  void* (*allocZeroed)(size_t bytes);  // global heap, zero-filled
  void (*freeBlock)(void* block);
  void (*pumpMessages)();
};

// The real system calls.
const UsbDiscoveryApi& SystemUsbDiscoveryApi();
// Replaces the calls used from now on; returns the previous set.
const UsbDiscoveryApi* SetUsbDiscoveryApi(const UsbDiscoveryApi* api);

// Enumerates the present USB printers and counts those that match the model
// id text by the settings' search mode; with a block (entries not null) also
// fills one entry per match while it fits into bufferBytes. sizeMeasure
// receives the total of path lengths plus one, in characters. Returns 0 when
// at least one printer matched, PRT_ERR_NOPRINTER when none did,
// PRT_ERR_GETPRMEMORY / PRT_ERR_MEMORY when the system failed.
int32_t GetUSBHandle(const wchar_t* modelIdText, UsbPrinterEntry* entries, uint32_t bufferBytes,
                     uint32_t* sizeMeasure, int32_t* count);

// Rebuilds g_usbList for the selected model. Returns 0 when at least one
// printer is listed; otherwise the list holds the single None entry.
int32_t BuildUsbPrinterList();

// Frees the list block (at shutdown).
void FreeUsbPrinterList();
