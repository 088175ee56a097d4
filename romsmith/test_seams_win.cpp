#include "test_seams.h"

#ifdef KIT_TEST_SEAMS

#include <windows.h>

#include "spooler.h"
#include "usb_discovery.h"

void InstallTestSeams() {
  wchar_t path[MAX_PATH] = {};
  DWORD chars = GetEnvironmentVariableW(L"ROMSMITH_TEST_SEAMS", path, MAX_PATH);
  if (chars == 0 || chars >= MAX_PATH) return;
  HMODULE seams = LoadLibraryW(path);
  if (seams == nullptr) return;
  // Kept loaded until the process ends: the tables stay in use to the last call.
  using SpoolerFn = const SpoolerApi* (*)();
  using UsbFn = const UsbDiscoveryApi* (*)();
  auto spooler = reinterpret_cast<SpoolerFn>(reinterpret_cast<void*>(GetProcAddress(seams, "KitTestSpoolerApi")));
  auto usb = reinterpret_cast<UsbFn>(reinterpret_cast<void*>(GetProcAddress(seams, "KitTestUsbDiscoveryApi")));
  if (spooler != nullptr && spooler() != nullptr) SetSpoolerApi(spooler());
  if (usb != nullptr && usb() != nullptr) SetUsbDiscoveryApi(usb());
}

#else

void InstallTestSeams() {}

#endif
