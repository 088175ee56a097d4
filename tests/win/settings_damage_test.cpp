// Damaged settings files through the real loader: about a thousand files,
// each made from a fixed seed and its case number (cut short, in another
// encoding, with enormous lines, thousands of keys, repeated sections,
// binary bytes, more than 255 LAN entries). Whatever the file holds, the
// load must finish, leave every value inside its field and range, and keep
// the heap intact. KIT_SETTINGS_CASE=<n> runs case n alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_rules.h"
#include "core/settings_types.h"
#include "tests/win/damaged_settings.h"

namespace {

using settings_damage::Case;
using settings_damage::KindOf;
using settings_damage::kKindCount;
using settings_damage::MakeCase;

constexpr int kCases = 1000;

// ---------------------------------------------------------------- checks

// Answers every message box of the loading thread, so a load never waits for
// a person, and keeps what each box said.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(DWORD thread) : thread_(thread), worker_([this] { Run(); }) {}
  ~BoxAnswerer() {
    stop_ = true;
    worker_.join();
  }
  // Texts and owners of the boxes answered since the last call.
  std::vector<std::pair<std::wstring, HWND>> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<std::wstring, HWND>> out;
    out.swap(seen_);
    return out;
  }

 private:
  static BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window)) {
      *reinterpret_cast<HWND*>(param) = window;
      return FALSE;
    }
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      HWND box = nullptr;
      EnumThreadWindows(thread_, FindBox, reinterpret_cast<LPARAM>(&box));
      if (box == nullptr) {
        Sleep(1);
        continue;
      }
      wchar_t text[512] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 512);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.emplace_back(text, GetWindow(box, GW_OWNER));
      }
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      while (!stop_ && IsWindow(box)) Sleep(2);
    }
  }
  DWORD thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::pair<std::wstring, HWND>> seen_;
  std::thread worker_;
};

template <size_t N>
bool Terminated(const wchar_t (&field)[N]) { return wmemchr(field, L'\0', N) != nullptr; }
template <size_t N>
bool Terminated(const char (&field)[N]) { return memchr(field, '\0', N) != nullptr; }

// Every value the load leaves inside its field and its range; failures are
// collected as text so one case reports all it breaks.
std::vector<std::string> Violations() {
  std::vector<std::string> bad;
  auto expect = [&](bool ok, const char* what) {
    if (!ok) bad.push_back(what);
  };
  const Settings& s = g_settings;
  expect(Terminated(s.programFolder) && Terminated(s.tagsmithPath) && Terminated(s.settingsPath), "path unterminated");
  const wchar_t* texts[] = {s.extraComName, s.fileType,  s.country, s.fileName,        s.portConnected,
                            s.portUsb,      s.portCom,   s.portLpt, s.portLan,         s.printerConnected};
  for (const wchar_t* t : texts) expect(wmemchr(t, L'\0', kSettingTextChars) != nullptr, "loaded text unterminated");
  if (!bad.empty()) return bad;  // the checks below read the texts

  static const wchar_t* const kMethods[] = {L"PowerOn", L"Online"};
  static const wchar_t* const kLanguages[] = {L"Japan", L"English"};
  static const wchar_t* const kKinds[] = {L"USB", L"COM", L"LPT", L"LAN"};
  static const wchar_t* const kLpts[] = {L"LPT1", L"LPT2", L"LPT3", L"LPT4"};
  expect(s.writingMethod == LookupNoCase(s.fileType, kMethods, 2), "Type text and method disagree");
  expect(s.languageIndex == LookupNoCase(s.country, kLanguages, 2), "Country text and language disagree");
  expect(s.portKind >= 0 && s.portKind <= 3, "port kind out of range");
  int kind = LookupNoCase(s.portConnected, kKinds, 4);
  expect(kind == s.portKind || (kind < 0 && s.portKind == 0 && AsciiEqualNoCase(s.portConnected, NoneWord(s.languageIndex))),
         "Connected text and port kind disagree");
  expect(s.comIndex == PortComIndex(s.portCom), "PortCOM text and COM index disagree");
  expect(s.comIndex == 4 ? AsciiEqualNoCase(s.extraComName, s.portCom) : s.extraComName[0] == L'\0',
         "extra COM name wrong");
  expect(s.lptIndex == LookupNoCase(s.portLpt, kLpts, 4), "PortLPT text and LPT index disagree");
  expect(IsValidPortLan(s.portLan), "PortLAN invalid");
  expect(IsValidPrinterConnected(s.printerConnected), "Printer Connected invalid");
  expect(s.usbSearchMode >= 0 && s.usbSearchMode <= 2, "USB search mode out of range");
  expect(s.startNotice == 0 || s.startNotice == 1, "start notice out of range");

  // The model table: count + 1 records in its block, the selection inside.
  expect(s.models != nullptr, "no model table");
  expect(s.modelCount >= 0, "negative model count");
  if (s.models != nullptr && s.modelCount >= 0) {
    size_t records = static_cast<size_t>(s.modelCount) + 1;
    expect(GlobalSize(s.models) >= records * sizeof(ModelRecord), "model block smaller than its count");
    expect(s.selectedModel >= 0 && s.selectedModel < (s.modelCount > 0 ? s.modelCount : 1), "selected model out of range");
    for (size_t r = 0; r < records; ++r) {
      const ModelRecord& m = s.models[r];
      expect(Terminated(m.modelName) && Terminated(m.usbIdText) && Terminated(m.updateExtension),
             "model text unterminated");
      expect(m.lptEnabled == 0 || m.lptEnabled == 1, "LPT flag out of range");
    }
  }

  // The LAN list: 256 records, at most 255 counted, the selection inside.
  expect(s.lanList != nullptr, "no LAN list");
  expect(s.lanCount >= 0 && s.lanCount <= kLanListMaxUsed, "LAN count out of range");
  expect(s.lanCountAtLoad >= s.lanCount && s.lanCountAtLoad <= kLanListMaxUsed, "key count at load out of range");
  expect(s.selectedLan >= 0 && s.selectedLan < (s.lanCount > 0 ? s.lanCount : 1), "selected LAN out of range");
  if (s.lanList != nullptr) {
    expect(GlobalSize(s.lanList) >= kLanListRecords * sizeof(LanPrinterRecord), "LAN block too small");
    for (int r = 0; r < kLanListRecords; ++r) {
      const LanPrinterRecord& l = s.lanList[r];
      expect(l.librarySlot == 0 || l.librarySlot == 1, "library slot out of range");
      expect(Terminated(l.ipAddress) && Terminated(l.macAddress) && Terminated(l.modelName) && Terminated(l.deviceId),
             "LAN ANSI field unterminated");
      expect(Terminated(l.ipAddressW) && Terminated(l.macAddressW) && Terminated(l.modelNameW) &&
                 Terminated(l.deviceIdW),
             "LAN wide field unterminated");
    }
  }
  // A write past a block breaks the heap's own bookkeeping.
  expect(HeapValidate(GetProcessHeap(), 0, nullptr) != FALSE, "process heap damaged");
  return bad;
}

// What two loads of the same settings must agree on (paths aside).
std::string Outcome() {
  const Settings& s = g_settings;
  std::string out;
  auto add = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
  add(&s.logEnabled, reinterpret_cast<const char*>(&s.models) - reinterpret_cast<const char*>(&s.logEnabled));
  add(&s.modelCount, reinterpret_cast<const char*>(&s.lanList) - reinterpret_cast<const char*>(&s.modelCount));
  add(&s.lanCount, sizeof(Settings) - offsetof(Settings, lanCount));
  if (s.models != nullptr) add(s.models, (static_cast<size_t>(s.modelCount) + 1) * sizeof(ModelRecord));
  if (s.lanList != nullptr) add(s.lanList, kLanListRecords * sizeof(LanPrinterRecord));
  return out;
}

class SettingsDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = std::wstring(temp) + L"kit_settings_damage";
    CreateDirectoryW(root_.c_str(), nullptr);
    g_program.kind = ProgramKind::Romsmith;
    g_program.mainWindow = nullptr;
  }
  void TearDown() override {
    FreeSettings();
    RemoveDirectoryW(root_.c_str());
  }
  // Each load gets a folder of its own: the profile functions cache a file
  // by name and time, and a rewrite in the same tick could be missed.
  void Load(const std::string& bytes) {
    std::wstring folder = root_ + L"\\" + std::to_wstring(loads_++);
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring ini = folder + L"\\Romsmith.ini";
    HANDLE file = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
    LoadSettingsFrom(folder.c_str());
    DeleteFileW(ini.c_str());
    RemoveDirectoryW(folder.c_str());
  }
  std::wstring root_;
  int loads_ = 0;
};

TEST_F(SettingsDamageTest, DamagedFilesLoadInsideEveryField) {
  int first = 0, last = kCases;
  // "N" runs case N alone, "N-M" cases N to M (the test run splits the
  // thousand cases between two programs that run side by side).
  if (const char* only = getenv("KIT_SETTINGS_CASE")) {
    first = atoi(only);
    const char* dash = strchr(only, '-');
    last = dash ? atoi(dash + 1) + 1 : first + 1;
  }
  static const wchar_t kMessage5English[] = L"The number of IP addresses has exceeded 255.\n\nNo more can be registered.";
  static const wchar_t kMessage5Japanese[] =
      L"IP\u30a2\u30c9\u30ec\u30b9\u304c255\u500b\u3092\u8d85\u3048\u3066\u3044\u307e\u3059\u3002\n\n"
      L"\u3053\u308c\u4ee5\u4e0a\u767b\u9332\u3067\u304d\u307e\u305b\u3093\u3002";
  BoxAnswerer answerer(GetCurrentThreadId());
  int failedCases = 0, boxes = 0;
  double slowest = 0;
  int slowestCase = -1;
  double kindSeconds[kKindCount] = {};
  for (int n = first; n < last && failedCases < 10; ++n) {
    Case c = MakeCase(n);
    std::vector<std::string> bad;
    auto start = std::chrono::steady_clock::now();
    Load(c.bytes);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kindSeconds[KindOf(n)] += seconds;
    if (seconds > slowest) {
      slowest = seconds;
      slowestCase = n;
    }
    bad = Violations();
    if (!c.ansiTwin.empty() && bad.empty()) {
      std::string reference = Outcome();
      Load(c.ansiTwin);
      bad = Violations();
      if (Outcome() != reference) bad.push_back("ANSI file loads differently from the same UTF-16 file");
    }
    auto seen = answerer.Take();
    boxes += static_cast<int>(seen.size());
    for (const auto& box : seen) {
      if (box.first != kMessage5English && box.first != kMessage5Japanese) bad.push_back("a box other than message 5");
      if (box.second != nullptr) bad.push_back("message 5 has an owner");
    }
    if (c.lanBoxes >= 0 && static_cast<int>(seen.size()) != c.lanBoxes) bad.push_back("message 5 shown wrongly");
    if (c.lanBoxes >= 0 && g_settings.lanCount != kLanListMaxUsed) bad.push_back("not the first 255 LAN entries");
    if (!bad.empty()) {
      ++failedCases;
      std::string all;
      for (const std::string& b : bad) all += "\n  " + b;
      ADD_FAILURE() << "case " << n << " (" << c.kind << ", " << c.bytes.size() << " bytes):" << all;
    }
  }
  printf("cases %d..%d, %d message boxes answered, slowest load %.3f s (case %d)\n", first, last - 1, boxes, slowest,
         slowestCase);
  printf("seconds per kind of damage:");
  for (double k : kindSeconds) printf(" %.1f", k);
  printf("\n");
  EXPECT_LT(slowest, 20.0) << "a damaged file must not stall the start";
}

}  // namespace
