#include <gtest/gtest.h>

#include <string>

#include "core/usb_device_path.h"

namespace {

const std::wstring kClass = L"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

std::string Show(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST(UsbDevicePath, PartsAndLabels) {
  struct Case {
    std::wstring path;
    bool usable;
    UsbPathStep reached;
    const wchar_t* label;  // only for usable paths
  };
  const Case cases[] = {
      {L"\\\\?\\usb#vid_fe5a&pid_0a01#X1#" + kClass, true, UsbPathStep::kDone, L"fe5a/0a01/(Serial No:X1)"},
      {L"\\\\?\\usb#vid_04b8&pid_0202#5&2a3f&0&1#" + kClass, true, UsbPathStep::kDone,
       L"04b8/0202/(Serial No:5&2a3f&0&1)"},
      // No closing "#": listed, with an empty serial number.
      {L"\\\\?\\usb#vid_fe5a&pid_0a01#X1", true, UsbPathStep::kEndHash, L"fe5a/0a01/(Serial No:)"},
      {L"\\\\?\\usb#vid_fe5a&pid_0a01##", true, UsbPathStep::kDone, L"fe5a/0a01/(Serial No:)"},
      // Searches are case-sensitive.
      {L"\\\\?\\USB#VID_FE5A&PID_0A01#X1#" + kClass, false, UsbPathStep::kVid, nullptr},
      {L"\\\\?\\usb#vid_fe5a&PID_0A01#X1#" + kClass, false, UsbPathStep::kPid, nullptr},
      {L"\\\\?\\usb#vid_fe5a#X1#" + kClass, false, UsbPathStep::kAmpersand, nullptr},
      {L"\\\\?\\usb#vid_fe5a&pid_0a01", false, UsbPathStep::kStartHash, nullptr},
      // "pid_" before the "&" does not count.
      {L"pid_1#vid_fe5a&x#", false, UsbPathStep::kPid, nullptr},
      {L"", false, UsbPathStep::kVid, nullptr},
      {L"vid_&pid_#", true, UsbPathStep::kEndHash, L"//(Serial No:)"},
      // One interface of a composite device: the product id ends at "&", and
      // the interface's instance text is no serial number.
      {L"\\\\?\\usb#vid_fe5a&pid_0a01&mi_00#7&1b2c3d4e&0&0000#" + kClass, true, UsbPathStep::kDone,
       L"fe5a/0a01/(Serial No:)"},
      {L"\\\\?\\usb#vid_fe5a&pid_0a01&mi_01#7&1b2c", true, UsbPathStep::kEndHash, L"fe5a/0a01/(Serial No:)"},
  };
  for (const Case& c : cases) {
    const UsbPathParts parts = ParseUsbDevicePath(c.path);
    EXPECT_EQ(parts.usable, c.usable) << Show(c.path);
    EXPECT_EQ(static_cast<int>(parts.reached), static_cast<int>(c.reached)) << Show(c.path);
    if (c.label != nullptr) {
      EXPECT_EQ(Show(UsbLabelText(parts)), Show(c.label)) << Show(c.path);
    }
  }

  // The serial number a composite printer takes from its parent device.
  const struct {
    const wchar_t* deviceId;
    const char* serial;
  } parents[] = {{L"USB\\VID_FE5A&PID_0A01\\X1", "X1"},
                 {L"USB\\VID_FE5A&PID_0A01\\6&2a3f&0&1", "6&2a3f&0&1"},
                 {L"USB\\VID_FE5A&PID_0A01", ""},
                 {L"", ""}};
  for (const auto& p : parents) EXPECT_EQ(Show(UsbSerialOfDeviceId(p.deviceId)), p.serial) << Show(p.deviceId);
}

TEST(UsbDevicePath, SearchModes) {
  const UsbPathParts a = ParseUsbDevicePath(L"\\\\?\\usb#vid_fe5a&pid_0a01#A#" + kClass);
  const UsbPathParts b = ParseUsbDevicePath(L"\\\\?\\usb#vid_fe5a&pid_0b02#B#" + kClass);
  const UsbPathParts c = ParseUsbDevicePath(L"\\\\?\\usb#vid_04b8&pid_0202#C#" + kClass);
  const UsbPathParts bad = ParseUsbDevicePath(L"\\\\?\\USB#VID_FE5A&PID_0A01#D#" + kClass);
  const UsbPathParts composite = ParseUsbDevicePath(L"\\\\?\\usb#vid_fe5a&pid_0a01&mi_00#7&1&0&0000#" + kClass);
  struct Case {
    int32_t mode;
    std::wstring model;
    bool a, b, c, bad;
  };
  const Case cases[] = {
      {kUsbSearchAll, L"fe5a/0a01/", true, true, true, false},
      {kUsbSearchVendor, L"fe5a/0a01/", true, true, false, false},
      {kUsbSearchVendorProduct, L"fe5a/0a01/", true, false, false, false},
      {kUsbSearchVendor, L"Disable", false, false, false, false},
      {kUsbSearchVendorProduct, L"Disable", false, false, false, false},
      // Model text shorter than the vendor id: no match by vendor.
      {kUsbSearchVendor, L"fe5", false, false, false, false},
      // A vendor-only model text in mode 2 matches every product.
      {kUsbSearchVendorProduct, L"fe5a/", true, true, false, false},
      {kUsbSearchVendorProduct, L"fe5a/0a01/x", false, false, false, false},
      // Unknown modes behave like the vendor mode.
      {7, L"fe5a/0a01/", true, true, false, false},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(UsbModelMatches(k.mode, a, k.model), k.a) << "mode " << k.mode << " model " << Show(k.model);
    EXPECT_EQ(UsbModelMatches(k.mode, b, k.model), k.b) << "mode " << k.mode << " model " << Show(k.model);
    EXPECT_EQ(UsbModelMatches(k.mode, c, k.model), k.c) << "mode " << k.mode << " model " << Show(k.model);
    EXPECT_EQ(UsbModelMatches(k.mode, bad, k.model), k.bad) << "mode " << k.mode << " model " << Show(k.model);
    // A composite printer's ids are those of a plain one.
    EXPECT_EQ(UsbModelMatches(k.mode, composite, k.model), k.a) << "mode " << k.mode << " model " << Show(k.model);
  }
}

TEST(UsbDevicePath, RegistryKeyAndPortName) {
  EXPECT_EQ(Show(UsbDeviceParametersKey(L"\\\\?\\usb#vid_fe5a&pid_0a01#X1#" + kClass)),
            Show(L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + kClass +
                 L"\\##?#usb#vid_fe5a&pid_0a01#X1#" + kClass + L"\\#\\Device Parameters"));
  // Only the first "{" starts the class text; later backslashes stay.
  EXPECT_EQ(Show(UsbDeviceParametersKey(L"a\\b{c}\\d")),
            Show(L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{c}\\d\\a#b{c}\\d\\#\\Device Parameters"));
  EXPECT_EQ(Show(UsbDeviceParametersKey(L"\\\\?\\usb#vid_fe5a&pid_0a01#X1#")), "");

  const struct {
    uint32_t number;
    const char* name;
  } ports[] = {{1, "USB001"}, {3, "USB003"}, {123, "USB123"}, {0, "USB000"}, {1000, "USB1000"},
               {4294967295u, "USB4294967295"}};
  for (const auto& p : ports) EXPECT_EQ(Show(UsbPortNameText(p.number)), p.name) << p.number;
}

}  // namespace
