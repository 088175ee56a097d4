#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/result_codes.h"
#include "core/settings_types.h"
#include "core/usb_discovery.h"
#include "guarded_heap.h"
#include "log_capture.h"

namespace {

const std::wstring kClass = L"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

std::wstring PrinterPath(const wchar_t* vid, const wchar_t* pid, const wchar_t* serial) {
  return std::wstring(L"\\\\?\\usb#vid_") + vid + L"&pid_" + pid + L"#" + serial + L"#" + kClass;
}

std::string Show(const std::wstring& w) {
  char buffer[1024];
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, buffer, sizeof(buffer), nullptr, nullptr);
  buffer[sizeof(buffer) - 1] = '\0';
  return buffer;
}

// What SetupAPI and the registry would report for a set of plugged printers.
struct FakeUsbSystem {
  std::vector<std::wstring> paths;
  std::map<std::wstring, std::vector<BYTE>> portValues;  // registry key -> raw "Port Number"
  std::map<std::wstring, std::wstring> parentIds;        // path -> device id of its parent device
  std::vector<std::wstring> pathsAfterFirstSet;            // plugged in after the first enumeration
  bool classDevsFails = false;
  int detailReadFailsAt = -1;  // interface index whose detail read fails
  int classDevsCalls = 0;
  int openSets = 0;
  int openKeys = 0;
  int badCbSize = 0;
  std::vector<std::wstring> openedKeys;
  GuardedHeap heap;
};

FakeUsbSystem* g_fake = nullptr;
const HDEVINFO kFakeSet = reinterpret_cast<HDEVINFO>(static_cast<intptr_t>(0x5e7));

HDEVINFO FakeGetClassDevs() {
  if (g_fake->classDevsFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (g_fake->classDevsCalls++ == 1) {
    for (const auto& p : g_fake->pathsAfterFirstSet) g_fake->paths.insert(g_fake->paths.begin(), p);
  }
  ++g_fake->openSets;
  return kFakeSet;
}

BOOL FakeEnumInterfaces(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
  if (set != kFakeSet || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return FALSE;
  if (index >= g_fake->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = index;
  return TRUE;
}

BOOL FakeGetInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                            DWORD detailBytes, DWORD* requiredBytes) {
  const std::wstring& path = g_fake->paths.at(data->Reserved);
  const DWORD required =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(wchar_t));
  if (requiredBytes != nullptr) *requiredBytes = required;
  if (detail == nullptr || detailBytes < required) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    ++g_fake->badCbSize;
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (static_cast<int>(data->Reserved) == g_fake->detailReadFailsAt) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return TRUE;
}

void FakeDestroyDeviceSet(HDEVINFO set) {
  if (set == kFakeSet) --g_fake->openSets;
}

BOOL FakeGetParentDeviceId(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, wchar_t* id, ULONG idChars) {
  auto it = g_fake->parentIds.find(g_fake->paths.at(data->Reserved));
  if (set != kFakeSet || it == g_fake->parentIds.end() || it->second.size() >= idChars) return FALSE;
  wcscpy(id, it->second.c_str());
  return TRUE;
}

LONG FakeRegOpenKey(const wchar_t* subKey, HKEY* key) {
  g_fake->openedKeys.push_back(subKey);
  auto it = g_fake->portValues.find(subKey);
  if (it == g_fake->portValues.end()) return ERROR_FILE_NOT_FOUND;
  ++g_fake->openKeys;
  *key = reinterpret_cast<HKEY>(&it->second);
  return ERROR_SUCCESS;
}

LONG FakeRegQueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) {
  const auto* value = reinterpret_cast<const std::vector<BYTE>*>(key);
  if (wcscmp(name, L"Port Number") != 0 || value->empty()) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->size() == 4 ? REG_DWORD : REG_BINARY;
  if (data == nullptr) {
    *dataBytes = static_cast<DWORD>(value->size());
    return ERROR_SUCCESS;
  }
  if (*dataBytes < value->size()) {
    *dataBytes = static_cast<DWORD>(value->size());
    return ERROR_MORE_DATA;
  }
  memcpy(data, value->data(), value->size());
  *dataBytes = static_cast<DWORD>(value->size());
  return ERROR_SUCCESS;
}

void FakeRegCloseKey(HKEY) { --g_fake->openKeys; }
void* FakeAlloc(size_t bytes) { return g_fake->heap.Alloc(bytes); }
void FakeFree(void* block) { g_fake->heap.Free(block); }
void FakePump() {}

const UsbDiscoveryApi kFakeApi = {FakeGetClassDevs,  FakeEnumInterfaces, FakeGetInterfaceDetail,
                                  FakeDestroyDeviceSet, FakeGetParentDeviceId, FakeRegOpenKey,
                                  FakeRegQueryValue, FakeRegCloseKey, FakeAlloc, FakeFree, FakePump};

std::wstring KeyOf(const std::wstring& path) {
  std::wstring converted = path.substr(0, path.find(L'{'));
  for (auto& c : converted) {
    if (c == L'\\') c = L'#';
  }
  return L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + kClass + L"\\" + converted + kClass +
         L"\\#\\Device Parameters";
}

std::vector<BYTE> Dword(DWORD v) {
  std::vector<BYTE> bytes(4);
  memcpy(bytes.data(), &v, 4);
  return bytes;
}

class UsbDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    previous_ = SetUsbDiscoveryApi(&kFakeApi);
    memset(&models_, 0, sizeof(models_));
    wcscpy(models_[0].modelName, L"KM-510");
    wcscpy(models_[0].usbIdText, L"fe5a/0a01/");
    g_settings.models = models_;
    g_settings.modelCount = 1;
    g_settings.selectedModel = 0;
    g_settings.usbSearchMode = 1;
    g_settings.languageIndex = 1;
    g_usbList.selectedIndex = 0;
  }
  void TearDown() override {
    FreeUsbPrinterList();
    EXPECT_EQ(fake_.heap.Live(), 0u) << "blocks left allocated";
    EXPECT_EQ(fake_.heap.Overruns(), 0) << "write past a block";
    EXPECT_EQ(fake_.heap.BadFrees(), 0);
    EXPECT_EQ(fake_.openSets, 0) << "device set not destroyed";
    EXPECT_EQ(fake_.openKeys, 0) << "registry key not closed";
    EXPECT_EQ(fake_.badCbSize, 0) << "detail record size field wrong";
    SetUsbDiscoveryApi(previous_);
    g_settings.models = nullptr;
    g_settings.modelCount = 0;
    g_fake = nullptr;
  }
  void Plug(const std::wstring& path, int port) {
    fake_.paths.push_back(path);
    if (port >= 0) fake_.portValues[KeyOf(path)] = Dword(static_cast<DWORD>(port));
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> out;
    for (int i = 0; i < g_usbList.count; ++i) out.push_back(Show(g_usbList.entries[i].label));
    return out;
  }

  FakeUsbSystem fake_;
  ModelRecord models_[2];
  const UsbDiscoveryApi* previous_ = nullptr;
};

TEST_F(UsbDiscoveryTest, OnePrinterGivesLabelPathPortAndLogLines) {
  LogCapture log(L"kit_usb_log");
  const std::wstring path = L"\\\\?\\usb#vid_fe5a&pid_0a01#X1#" + kClass;
  Plug(path, 1);
  EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS);
  ASSERT_EQ(g_usbList.count, 1);
  EXPECT_EQ(Show(g_usbList.entries[0].label), "fe5a/0a01/(Serial No:X1)");
  EXPECT_EQ(Show(g_usbList.entries[0].devicePath), Show(path));
  EXPECT_EQ(Show(g_usbList.entries[0].portName), "USB001");
  ASSERT_FALSE(fake_.openedKeys.empty());
  EXPECT_EQ(Show(fake_.openedKeys.back()),
            "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\##?#usb#"
            "vid_fe5a&pid_0a01#X1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\#\\Device Parameters");

  // The filling pass, as the log shows it.
  const std::string lines = log.LinesText();
  const char* expected =
      ">>>>>>>>>>>>>>>>>\n"
      "GetUSBHandle Start\n"
      "GetUSBHandle SetupDiGetClassDevs Success\n"
      "GetUSBHandle SetupDiEnumDeviceInterfaces(Strat)\n"
      "GetUSBHandle SetupDiEnumDeviceInterfaces(GET)\n"
      "GetUSBHandle SetupDiGetDeviceInterfaceDetail Success\n"
      "GetUSBHandle [vid_] Success\n"
      "GetUSBHandle [&] Success\n"
      "GetUSBHandle [pid_] Success\n"
      "GetUSBHandle [Start #] Success\n"
      "GetUSBHandle [End #] Success\n"
      "GetUSBHandle [PID] OK Success\n"
      "GetUSBHandle [GET RegQueryValueEx Value] Success\n"
      "GetUSBHandle [GET] Success [fe5a/0a01/(Serial No:X1)]\n"
      "GetUSBHandle Success\n"
      "GetUSBHandle End\n"
      "<<<<<<<<<<<<<<<<<\n";
  EXPECT_NE(lines.find(expected), std::string::npos) << "got:\n" << lines << "expected within:\n" << expected;
}

TEST_F(UsbDiscoveryTest, SearchModesWithSeveralPrinters) {
  Plug(PrinterPath(L"fe5a", L"0a01", L"A1"), 1);
  Plug(PrinterPath(L"04b8", L"0202", L"B2"), 2);
  Plug(PrinterPath(L"fe5a", L"0b02", L"C3"), 3);
  Plug(L"\\\\?\\USB#VID_FE5A&PID_0A01#D4#" + kClass, 4);  // upper case: never listed
  const struct {
    int mode;
    std::vector<std::string> labels;
  } cases[] = {
      {0, {"fe5a/0a01/(Serial No:A1)", "04b8/0202/(Serial No:B2)", "fe5a/0b02/(Serial No:C3)"}},
      {1, {"fe5a/0a01/(Serial No:A1)", "fe5a/0b02/(Serial No:C3)"}},
      {2, {"fe5a/0a01/(Serial No:A1)"}},
  };
  for (const auto& c : cases) {
    g_settings.usbSearchMode = c.mode;
    EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS) << "mode " << c.mode;
    EXPECT_EQ(Labels(), c.labels) << "mode " << c.mode;
  }
  // The port name follows each printer, not the list position.
  g_settings.usbSearchMode = 1;
  BuildUsbPrinterList();
  ASSERT_EQ(g_usbList.count, 2);
  EXPECT_EQ(Show(g_usbList.entries[1].portName), "USB003");

  // A selection beyond a list rebuilt shorter ends on its last entry.
  for (int32_t selected : {5, 1, -2}) {
    g_usbList.selectedIndex = selected;
    g_settings.usbSearchMode = 2;
    EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS);
    EXPECT_EQ(g_usbList.selectedIndex, 0) << selected;
  }
}

TEST_F(UsbDiscoveryTest, PortNumbersAndOddRegistryData) {
  g_settings.usbSearchMode = 0;
  Plug(PrinterPath(L"fe5a", L"0a01", L"P3"), 3);
  Plug(PrinterPath(L"fe5a", L"0a01", L"P123"), 123);
  Plug(PrinterPath(L"fe5a", L"0a01", L"NOKEY"), -1);
  const std::wstring wide = PrinterPath(L"fe5a", L"0a01", L"WIDE");
  Plug(wide, -1);
  fake_.portValues[KeyOf(wide)] = std::vector<BYTE>(8, 0x11);  // not a 32-bit value
  const std::wstring empty = PrinterPath(L"fe5a", L"0a01", L"EMPTY");
  Plug(empty, -1);
  fake_.portValues[KeyOf(empty)] = {};  // key without the value
  // Without the closing "#" the printer is listed with no serial number; its
  // key cannot be derived, so its port stays "USB".
  Plug(L"\\\\?\\usb#vid_fe5a&pid_0a01#NOEND", 9);
  // One interface of a composite device takes the serial number of the
  // device; none when the device cannot be found.
  const std::wstring composite = L"\\\\?\\usb#vid_fe5a&pid_0a01&mi_00#7&1b2c&0&0000#" + kClass;
  Plug(composite, 5);
  fake_.parentIds[composite] = L"USB\\VID_FE5A&PID_0A01\\E5";
  Plug(L"\\\\?\\usb#vid_fe5a&pid_0a01&mi_01#7&3d4e&0&0001#" + kClass, 6);

  EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS);
  const char* ports[] = {"USB003", "USB123", "USB", "USB", "USB", "USB", "USB005", "USB006"};
  const char* labels[] = {"fe5a/0a01/(Serial No:P3)",    "fe5a/0a01/(Serial No:P123)", "fe5a/0a01/(Serial No:NOKEY)",
                          "fe5a/0a01/(Serial No:WIDE)",  "fe5a/0a01/(Serial No:EMPTY)", "fe5a/0a01/(Serial No:)",
                          "fe5a/0a01/(Serial No:E5)",    "fe5a/0a01/(Serial No:)"};
  ASSERT_EQ(g_usbList.count, 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(Show(g_usbList.entries[i].portName), ports[i]) << "entry " << i;
    EXPECT_EQ(Show(g_usbList.entries[i].label), labels[i]) << "entry " << i;
  }
}

TEST_F(UsbDiscoveryTest, NoPrinterGivesTheNoneEntryInEitherLanguage) {
  Plug(PrinterPath(L"04b8", L"0202", L"B2"), 2);  // another vendor
  const struct {
    int language;
    const wchar_t* none;
  } cases[] = {{1, L"None"}, {0, L"\u306a\u3057"}};
  for (const auto& c : cases) {
    g_settings.languageIndex = c.language;
    g_usbList.selectedIndex = 3;
    EXPECT_EQ(BuildUsbPrinterList(), PRT_ERR_NOPRINTER);
    ASSERT_EQ(g_usbList.count, 1);
    EXPECT_EQ(g_usbList.selectedIndex, 0);
    EXPECT_EQ(Show(g_usbList.entries[0].label), Show(c.none));
    EXPECT_EQ(Show(g_usbList.entries[0].devicePath), Show(c.none));
    EXPECT_EQ(Show(g_usbList.entries[0].portName), Show(c.none));
  }
}

TEST_F(UsbDiscoveryTest, SystemFailuresStillLeaveOneEntry) {
  // Device set unavailable.
  Plug(PrinterPath(L"fe5a", L"0a01", L"A1"), 1);
  fake_.classDevsFails = true;
  EXPECT_EQ(BuildUsbPrinterList(), PRT_ERR_GETPRMEMORY);
  ASSERT_EQ(g_usbList.count, 1);
  EXPECT_EQ(Show(g_usbList.entries[0].label), "None");
  fake_.classDevsFails = false;

  // The list block cannot be had, but one entry can.
  fake_.heap.Reset();
  fake_.heap.FailCall(1);  // call 0 is the detail of the counting pass
  EXPECT_EQ(BuildUsbPrinterList(), PRT_ERR_MEMORY);
  ASSERT_EQ(g_usbList.count, 1);
  EXPECT_EQ(Show(g_usbList.entries[0].portName), "None");

  // Nothing can be allocated at all.
  FreeUsbPrinterList();
  fake_.heap.Reset();
  fake_.heap.FailAll(true);
  EXPECT_EQ(BuildUsbPrinterList(), PRT_ERR_MEMORY);
  ASSERT_EQ(g_usbList.count, 1);
  ASSERT_NE(g_usbList.entries, nullptr);
  EXPECT_EQ(Show(g_usbList.entries[0].label), "None");
  FreeUsbPrinterList();  // must not hand the stand-in entry to the heap
  EXPECT_EQ(fake_.heap.BadFrees(), 0);
  fake_.heap.FailAll(false);
}

TEST_F(UsbDiscoveryTest, DetailFailuresStopTheScanButKeepEarlierMatches) {
  Plug(PrinterPath(L"fe5a", L"0a01", L"A1"), 1);
  Plug(PrinterPath(L"fe5a", L"0a01", L"B2"), 2);
  uint32_t measure = 0;
  int32_t count = -1;

  fake_.detailReadFailsAt = 0;
  EXPECT_EQ(GetUSBHandle(L"fe5a/0a01/", nullptr, 0, &measure, &count), PRT_ERR_GETPRMEMORY);
  EXPECT_EQ(count, 0);

  fake_.detailReadFailsAt = 1;
  EXPECT_EQ(GetUSBHandle(L"fe5a/0a01/", nullptr, 0, &measure, &count), PRT_SUCCESS);
  EXPECT_EQ(count, 1);
  fake_.detailReadFailsAt = -1;

  fake_.heap.Reset();
  fake_.heap.FailCall(0);
  EXPECT_EQ(GetUSBHandle(L"fe5a/0a01/", nullptr, 0, &measure, &count), PRT_ERR_MEMORY);
  EXPECT_EQ(count, 0);

  fake_.heap.Reset();
  EXPECT_EQ(GetUSBHandle(L"fe5a/0a01/", nullptr, 0, &measure, &count), PRT_SUCCESS);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(measure, static_cast<uint32_t>(2 * (PrinterPath(L"fe5a", L"0a01", L"A1").size() + 1)));
}

TEST_F(UsbDiscoveryTest, NeverWritesPastTheCallersBlock) {
  Plug(PrinterPath(L"fe5a", L"0a01", L"A1"), 1);
  Plug(PrinterPath(L"fe5a", L"0a01", L"B2"), 2);
  Plug(PrinterPath(L"fe5a", L"0a01", L"C3"), 3);

  // A block with room for one entry and a half.
  auto* block = static_cast<UsbPrinterEntry*>(fake_.heap.Alloc(sizeof(UsbPrinterEntry) * 3 / 2));
  uint32_t measure = 0;
  int32_t count = 0;
  EXPECT_EQ(GetUSBHandle(L"fe5a/0a01/", block, sizeof(UsbPrinterEntry) * 3 / 2, &measure, &count), PRT_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(Show(block[0].label), "fe5a/0a01/(Serial No:A1)");
  EXPECT_TRUE(fake_.heap.Intact(block)) << "entries written past the block";
  fake_.heap.Free(block);

  // Two printers plugged in between the counting and the filling pass.
  fake_.classDevsCalls = 0;
  fake_.pathsAfterFirstSet = {PrinterPath(L"fe5a", L"0a01", L"N1"), PrinterPath(L"fe5a", L"0a01", L"N2")};
  EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS);
  EXPECT_EQ(g_usbList.count, 3);
  EXPECT_TRUE(fake_.heap.Intact(g_usbList.entries)) << "entries written past the list block";
  EXPECT_EQ(Labels(), (std::vector<std::string>{"fe5a/0a01/(Serial No:N2)", "fe5a/0a01/(Serial No:N1)",
                                                "fe5a/0a01/(Serial No:A1)"}));
}

TEST_F(UsbDiscoveryTest, LongPathsAreCutInsideTheirFields) {
  g_settings.usbSearchMode = 0;
  const std::wstring longVid(400, L'v');
  const std::wstring path = L"\\\\?\\usb#vid_" + longVid + L"&pid_0a01#S#" + kClass;
  Plug(path, 1);
  EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS);
  ASSERT_EQ(g_usbList.count, 1);
  EXPECT_EQ(wcslen(g_usbList.entries[0].label), static_cast<size_t>(kUsbLabelChars - 1));
  EXPECT_EQ(wcslen(g_usbList.entries[0].devicePath), static_cast<size_t>(kUsbDevicePathChars - 1));
  EXPECT_EQ(Show(g_usbList.entries[0].portName), "USB001");
}

}  // namespace

namespace {

// The registry half of the system calls works under emulation: the port
// number is read from a real DeviceClasses entry made for the test.
TEST_F(UsbDiscoveryTest, SystemRegistryGivesThePortNumber) {
  const UsbDiscoveryApi& system = SystemUsbDiscoveryApi();
  UsbDiscoveryApi mixed = kFakeApi;
  mixed.regOpenKey = system.regOpenKey;
  mixed.regQueryValue = system.regQueryValue;
  mixed.regCloseKey = system.regCloseKey;
  SetUsbDiscoveryApi(&mixed);

  const std::wstring present = PrinterPath(L"fe5a", L"0a01", L"KITREG1");
  const std::wstring odd = PrinterPath(L"fe5a", L"0a01", L"KITREG2");
  const std::wstring absent = PrinterPath(L"fe5a", L"0a01", L"KITREG3");
  fake_.paths = {present, odd, absent};
  struct Made {
    std::wstring key;
    std::vector<BYTE> value;
    DWORD type;
  } made[] = {{KeyOf(present), Dword(7), REG_DWORD}, {KeyOf(odd), std::vector<BYTE>(8, 1), REG_QWORD}};
  bool created = true;
  for (const Made& m : made) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
      created = false;
      break;
    }
    RegSetValueExW(key, L"Port Number", 0, m.type, m.value.data(), static_cast<DWORD>(m.value.size()));
    RegCloseKey(key);
  }
  if (!created) {
    SetUsbDiscoveryApi(&kFakeApi);
    GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE";
  }

  EXPECT_EQ(BuildUsbPrinterList(), PRT_SUCCESS);
  ASSERT_EQ(g_usbList.count, 3);
  EXPECT_EQ(Show(g_usbList.entries[0].portName), "USB007");
  EXPECT_EQ(Show(g_usbList.entries[1].portName), "USB");
  EXPECT_EQ(Show(g_usbList.entries[2].portName), "USB");

  for (const Made& m : made) {
    // Remove the "Device Parameters" key and the "#" and path keys above it.
    std::wstring key = m.key;
    for (int level = 0; level < 3; ++level) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
      key = key.substr(0, key.rfind(L'\\'));
    }
  }
  SetUsbDiscoveryApi(&kFakeApi);
}

// The real enumeration finds no USB printer under emulation; it must still
// leave one entry and release what it took.
TEST(UsbDiscoverySystem, RealCallsLeaveOneEntry) {
  ModelRecord model = {};
  wcscpy(model.usbIdText, L"fe5a/0a01/");
  g_settings.models = &model;
  g_settings.modelCount = 1;
  g_settings.selectedModel = 0;
  g_settings.usbSearchMode = 0;
  const int32_t result = BuildUsbPrinterList();
  EXPECT_TRUE(result == PRT_SUCCESS || result == PRT_ERR_NOPRINTER || result == PRT_ERR_GETPRMEMORY) << result;
  EXPECT_GE(g_usbList.count, 1);
  ASSERT_NE(g_usbList.entries, nullptr);
  if (result != PRT_SUCCESS) {
    EXPECT_EQ(Show(g_usbList.entries[0].label), Show(NoneWord(g_settings.languageIndex)));
  }
  FreeUsbPrinterList();
  g_settings.models = nullptr;
  g_settings.modelCount = 0;
}

}  // namespace
