#include "usb_device_path.h"

#include <cwchar>

UsbPathParts ParseUsbDevicePath(const std::wstring& path) {
  UsbPathParts parts{false, UsbPathStep::kVid, {}, {}, {}, false};
  const size_t vid = path.find(L"vid_");
  if (vid == std::wstring::npos) return parts;
  const size_t vendorStart = vid + 4;

  parts.reached = UsbPathStep::kAmpersand;
  const size_t amp = path.find(L'&', vendorStart);
  if (amp == std::wstring::npos) return parts;

  parts.reached = UsbPathStep::kPid;
  const size_t pid = path.find(L"pid_", amp);
  if (pid == std::wstring::npos) return parts;
  const size_t productStart = pid + 4;

  parts.reached = UsbPathStep::kStartHash;
  const size_t hash = path.find(L'#', productStart);
  if (hash == std::wstring::npos) return parts;

  parts.usable = true;
  const size_t productEnd = path.find(L'&', productStart);
  parts.composite = productEnd < hash;
  parts.vendorText = path.substr(vendorStart, amp - vendorStart) + L"/";
  parts.productText = path.substr(productStart, (parts.composite ? productEnd : hash) - productStart) + L"/";

  parts.reached = UsbPathStep::kEndHash;
  const size_t endHash = path.find(L'#', hash + 1);
  // Without the closing "#" there is no telling where the serial number ends,
  // so the printer is listed without one rather than with the class text.
  if (endHash == std::wstring::npos) return parts;
  if (!parts.composite) parts.serial = path.substr(hash + 1, endHash - hash - 1);
  parts.reached = UsbPathStep::kDone;
  return parts;
}

std::wstring UsbSerialOfDeviceId(const std::wstring& deviceId) {
  const size_t first = deviceId.find(L'\\');
  const size_t last = deviceId.rfind(L'\\');
  if (first == std::wstring::npos || first == last) return std::wstring();
  return deviceId.substr(last + 1);
}

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool UsbModelMatches(int32_t searchMode, const UsbPathParts& parts, const std::wstring& modelIdText) {
  if (!parts.usable) return false;
  switch (searchMode) {
    case kUsbSearchAll:
      return true;
    case kUsbSearchVendorProduct:
      return StartsWith(parts.vendorText + parts.productText, modelIdText);
    default:
      return StartsWith(modelIdText, parts.vendorText);
  }
}

std::wstring UsbLabelText(const UsbPathParts& parts) {
  return parts.vendorText + parts.productText + L"(Serial No:" + parts.serial + L")";
}

std::wstring UsbDeviceParametersKey(const std::wstring& path) {
  const size_t brace = path.find(L'{');
  if (brace == std::wstring::npos) return std::wstring();
  const std::wstring classText = path.substr(brace);
  std::wstring converted = path.substr(0, brace);
  for (wchar_t& c : converted) {
    if (c == L'\\') c = L'#';
  }
  return L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + classText + L"\\" + converted + classText +
         L"\\#\\Device Parameters";
}

std::wstring UsbPortNameText(uint32_t portNumber) {
  wchar_t text[32];
  swprintf(text, sizeof(text) / sizeof(text[0]), L"USB%03lu", static_cast<unsigned long>(portNumber));
  return text;
}
