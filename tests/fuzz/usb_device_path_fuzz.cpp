// Device-interface paths come from the system and may hold anything.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/usb_device_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes per UTF-16 unit, as the system hands out paths.
  std::wstring path;
  for (size_t i = 0; i + 1 < size; i += 2) path.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  const UsbPathParts parts = ParseUsbDevicePath(path);
  if (parts.usable) {
    // The texts are cut from the path: they can never be longer than it.
    if (parts.vendorText.size() + parts.productText.size() + parts.serial.size() > path.size() + 2) __builtin_trap();
    if (parts.vendorText.back() != L'/' || parts.productText.back() != L'/') __builtin_trap();
    // An interface of a composite device never takes its instance text as a serial number.
    if (parts.composite && !parts.serial.empty()) __builtin_trap();
    (void)UsbLabelText(parts);
    (void)UsbModelMatches(kUsbSearchVendor, parts, L"fe5a/0a01/");
    (void)UsbModelMatches(kUsbSearchVendorProduct, parts, L"fe5a/0a01/");
  } else if (!parts.vendorText.empty() || !parts.productText.empty()) {
    __builtin_trap();
  }
  (void)UsbDeviceParametersKey(path);
  (void)UsbSerialOfDeviceId(path);
  return 0;
}
