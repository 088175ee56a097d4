// Platform-free rules of USB printer discovery: reading the vendor id,
// product id and serial number out of a device-interface path, matching them
// against a model's USB id text, and the texts derived from a path.
#pragma once

#include <cstdint>
#include <string>

// How far the path parse got. The steps run in this order; a path that fails
// before kEndHash is not a USB printer path we can use.
enum class UsbPathStep : int32_t {
  kVid = 0,    // "vid_"
  kAmpersand,  // "&" after the vendor id
  kPid,        // "pid_" after that "&"
  kStartHash,  // "#" after the product id
  kEndHash,    // "#" after the serial number
  kDone,
};

struct UsbPathParts {
  bool usable;              // vid_, &, pid_ and the first # were all found
  UsbPathStep reached;      // first step that failed, kDone when none did
  std::wstring vendorText;  // "fe5a/": the id followed by a slash
  std::wstring productText; // "0a01/"
  std::wstring serial;      // empty when the closing "#" is missing, or for one interface of a composite device
  bool composite;           // "pid_0a01&mi_00#...": the path names one interface, its device is the parent
};

// Splits a device-interface path such as
// \\?\usb#vid_fe5a&pid_0a01#X1#{28d78fad-...}. The searches are case-sensitive:
// a path written with "VID_" is not usable. The product id ends at "&" or
// "#": a printer that is one interface of a composite device reads
// \\?\usb#vid_fe5a&pid_0a01&mi_00#7&1b2c&0&0000#{...}, where the text between
// the "#"s is the system's name for the interface, not a serial number; its
// serial number is the parent device's (UsbSerialOfDeviceId).
UsbPathParts ParseUsbDevicePath(const std::wstring& path);

// The serial number in a device instance id "USB\VID_FE5A&PID_0A01\X1":
// the text after the last backslash; empty when the id has fewer than three
// parts.
std::wstring UsbSerialOfDeviceId(const std::wstring& deviceId);

// Search modes of the settings.
constexpr int32_t kUsbSearchAll = 0;
constexpr int32_t kUsbSearchVendor = 1;
constexpr int32_t kUsbSearchVendorProduct = 2;

// True when the printer belongs to the model by the given search mode. An
// unknown mode is taken as the vendor-id mode, the default of the settings.
bool UsbModelMatches(int32_t searchMode, const UsbPathParts& parts, const std::wstring& modelIdText);

// "fe5a/0a01/(Serial No:X1)".
std::wstring UsbLabelText(const UsbPathParts& parts);

// The key under HKEY_LOCAL_MACHINE that holds the printer's "Port Number":
// the DeviceClasses entry of the interface, built from the path by cutting it
// at the class text "{...}" and turning its backslashes into "#". Empty when
// the path holds no "{".
std::wstring UsbDeviceParametersKey(const std::wstring& path);

// "USB001" for port number 1.
std::wstring UsbPortNameText(uint32_t portNumber);
