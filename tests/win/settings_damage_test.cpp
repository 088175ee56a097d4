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
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_rules.h"
#include "core/settings_types.h"

namespace {

constexpr uint64_t kSeed = 13;
constexpr int kCases = 1000;

// splitmix64: the same numbers on every compiler, unlike the standard
// distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
  bool OneIn(size_t n) { return Below(n) == 0; }
  template <size_t N>
  const wchar_t* Pick(const wchar_t* const (&list)[N]) { return list[Below(N)]; }

 private:
  uint64_t state_;
};

// ---------------------------------------------------------------- documents

std::wstring Text(Random& rng, size_t maxChars, bool ascii) {
  static const wchar_t kAlphabet[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .:/\\-_*,,;=";
  static const wchar_t kWide[] = L"\u30d7\u30ea\u30f3\u30bf\u306a\u3057\u00e9\u4e00";
  std::wstring out;
  size_t n = rng.Below(maxChars + 1);
  for (size_t i = 0; i < n; ++i) {
    if (!ascii && rng.OneIn(6)) {
      out += kWide[rng.Below(wcslen(kWide))];
    } else {
      out += kAlphabet[rng.Below(wcslen(kAlphabet))];
    }
  }
  return out;
}

std::wstring Line(const std::wstring& key, const std::wstring& value) { return key + L"=" + value + L"\r\n"; }

std::wstring LanValue(Random& rng, int n, bool ascii) {
  static const wchar_t* const kSlots[] = {L"0", L"1", L"x", L"-7", L"99999999999", L""};
  std::wstring ip = rng.OneIn(8) ? L"None" : L"127.0." + std::to_wstring(n / 200) + L"." + std::to_wstring(n % 200);
  std::wstring v = std::wstring(rng.Pick(kSlots)) + L"," + Text(rng, 70, ascii) + L"," + ip;
  if (!rng.OneIn(4)) v += L"," + (rng.OneIn(4) ? std::wstring(L"None") : Text(rng, 40, true));
  if (rng.OneIn(3)) v += L",0010 MFG:X;MDL:" + Text(rng, rng.OneIn(4) ? 600 : 20, ascii) + L";";
  return v;
}

std::wstring ModelValue(Random& rng, bool ascii) {
  static const wchar_t* const kUsb[] = {L"fe5a/0a01/", L"Disable", L"", L"fe5a/0a02/fe5a/0a02/fe5a/0a02/"};
  static const wchar_t* const kLpt[] = {L"Enable", L"Disable", L"enable", L""};
  return Text(rng, rng.OneIn(5) ? 300 : 12, ascii) + L"," + rng.Pick(kUsb) + L"," + rng.Pick(kLpt) + L"," +
         Text(rng, rng.OneIn(5) ? 280 : 4, ascii);
}

// One section of a plausible settings file with `lanEntries` LAN entries.
std::wstring Section(Random& rng, int which, bool ascii, int lanEntries) {
  static const wchar_t* const kTypes[] = {L"PowerOn", L"Online", L"online", L"Fast", L""};
  static const wchar_t* const kCountries[] = {L"English", L"Japan", L"japan", L"France", L""};
  static const wchar_t* const kKinds[] = {L"USB", L"COM", L"LPT", L"LAN", L"lan", L"SCSI", L""};
  static const wchar_t* const kComs[] = {L"COM1", L"COM4", L"com3", L"COM7", L"COM0", L"COMx", L"COM-2", L""};
  static const wchar_t* const kLpts[] = {L"LPT1", L"LPT4", L"lpt2", L"LPT9", L""};
  static const wchar_t* const kLans[] = {L"Port001", L"Port002", L"port012", L"Port256", L"Port01", L"None", L""};
  static const wchar_t* const kModels[] = {L"Printer01", L"Printer03", L"printer09", L"Printer00", L"Printer100",
                                           L"Print01", L""};
  static const wchar_t* const kModes[] = {L"ALL", L"VID/PID", L"vid/pid", L"OFF", L"off", L""};
  switch (which) {
    case 0: return L"[File]\r\n" + Line(L"Type", rng.Pick(kTypes));
    case 1: return L"[Language]\r\n" + Line(L"Country", rng.Pick(kCountries));
    case 2: return L"[Send]\r\n" + Line(L"Filename", L"C:\\fw\\" + Text(rng, rng.OneIn(4) ? 400 : 20, ascii));
    case 3:
      return L"[Port]\r\n" + Line(L"Connected", rng.Pick(kKinds)) +
             Line(L"PortUSB", L"USB001 " + Text(rng, rng.OneIn(4) ? 300 : 10, ascii)) +
             Line(L"PortCOM", rng.Pick(kComs)) + Line(L"PortLPT", rng.Pick(kLpts)) + Line(L"PortLAN", rng.Pick(kLans));
    case 4: {
      std::wstring s = L"[Printer]\r\n" + Line(L"Connected", rng.Pick(kModels));
      size_t models = rng.Below(13);
      for (size_t k = 1; k <= models; ++k) {
        wchar_t key[16];
        swprintf(key, 16, L"Printer%02u", static_cast<unsigned>(k));
        s += Line(key, ModelValue(rng, ascii));
      }
      return s;
    }
    case 5: {
      std::wstring s = L"[IPAddress]\r\n";
      for (int n = 1; n <= lanEntries; ++n) {
        wchar_t key[16];
        swprintf(key, 16, L"Port%03d", n);
        s += Line(key, LanValue(rng, n, ascii));
      }
      return s;
    }
    case 6: return L"[USB_SEARCH]\r\n" + Line(L"Mode", rng.Pick(kModes));
    default: return L"[INIT_MSG]\r\n" + Line(L"Mode", rng.Pick(kModes));
  }
}

std::wstring Document(Random& rng, bool ascii, int lanEntries, bool repeatSections) {
  std::wstring doc;
  for (int s = 0; s < 8; ++s) {
    if (!rng.OneIn(8)) doc += Section(rng, s, ascii, lanEntries);
  }
  if (repeatSections) {
    size_t extra = 1 + rng.Below(6);
    for (size_t i = 0; i < extra; ++i) doc += Section(rng, static_cast<int>(rng.Below(8)), ascii, lanEntries);
  }
  return doc;
}

// ---------------------------------------------------------------- encodings

enum class Encoding { kUtf16Bom, kUtf16NoBom, kUtf16BigEndianBom, kUtf8Bom, kUtf8, kAnsi, kCount };

std::string Encode(const std::wstring& text, Encoding encoding) {
  std::string out;
  auto narrow = [&](UINT codePage) {
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
  };
  switch (encoding) {
    case Encoding::kUtf16Bom: out = "\xFF\xFE"; [[fallthrough]];
    case Encoding::kUtf16NoBom:
      for (wchar_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
      }
      return out;
    case Encoding::kUtf16BigEndianBom:
      out = "\xFE\xFF";
      for (wchar_t c : text) {
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
      }
      return out;
    case Encoding::kUtf8Bom: return "\xEF\xBB\xBF" + narrow(CP_UTF8);
    case Encoding::kUtf8: return narrow(CP_UTF8);
    default: return narrow(CP_ACP);
  }
}

// ---------------------------------------------------------------- damage

void Truncate(Random& rng, std::string& bytes) { bytes.resize(rng.Below(bytes.size() + 1)); }

void FlipBytes(Random& rng, std::string& bytes) {
  size_t flips = 1 + rng.Below(16);
  for (size_t i = 0; i < flips && !bytes.empty(); ++i) bytes[rng.Below(bytes.size())] = static_cast<char>(rng.Next());
}

void InsertBinary(Random& rng, std::string& bytes) {
  static const char kSpecial[] = {'\0', '\xFF', '\xFE', '\r', '\n', '[', ']', '=', ';', '\x1A'};
  std::string run;
  size_t n = 1 + rng.Below(rng.OneIn(8) ? 4000 : 40);
  for (size_t i = 0; i < n; ++i) {
    run += rng.OneIn(2) ? kSpecial[rng.Below(sizeof(kSpecial))] : static_cast<char>(rng.Next());
  }
  bytes.insert(rng.Below(bytes.size() + 1), run);
}

void RepeatChunk(Random& rng, std::string& bytes) {
  if (bytes.empty()) return;
  size_t start = rng.Below(bytes.size());
  std::string chunk = bytes.substr(start, 1 + rng.Below(bytes.size() - start));
  size_t times = 1 + rng.Below(3);
  for (size_t i = 0; i < times; ++i) bytes.insert(rng.Below(bytes.size() + 1), chunk);
}

void DropByte(Random& rng, std::string& bytes) {
  if (!bytes.empty()) bytes.erase(rng.Below(bytes.size()), 1);
}

void Damage(Random& rng, std::string& bytes) {
  switch (rng.Below(5)) {
    case 0: Truncate(rng, bytes); break;
    case 1: FlipBytes(rng, bytes); break;
    case 2: InsertBinary(rng, bytes); break;
    case 3: RepeatChunk(rng, bytes); break;
    default: DropByte(rng, bytes); break;
  }
}

// A line far longer than any field: as the value of a key the loader reads,
// as a key, as a section name, or without any "=".
std::wstring EnormousLine(Random& rng) {
  static const wchar_t* const kKeys[] = {L"Filename", L"Printer01", L"Port001", L"PortCOM", L"Connected", L"Mode"};
  std::wstring big(20000 + rng.Below(100000), L'x');
  for (size_t i = 0; i < big.size(); i += 1 + rng.Below(50)) big[i] = L",=;[] \u30d7"[rng.Below(7)];
  switch (rng.Below(4)) {
    case 0: return Line(rng.Pick(kKeys), big);
    case 1: return Line(big, L"1");
    case 2: return L"[" + big + L"]\r\n";
    default: return big + L"\r\n";
  }
}

std::wstring ManyKeys(Random& rng) {
  static const wchar_t* const kSections[] = {L"Printer", L"IPAddress", L"Port", L"Unknown"};
  std::wstring s = L"[" + std::wstring(rng.Pick(kSections)) + L"]\r\n";
  size_t keys = 1000 + rng.Below(2000);
  for (size_t k = 0; k < keys; ++k) {
    wchar_t key[24];
    swprintf(key, 24, rng.OneIn(2) ? L"Port%03u" : L"Printer%02u", static_cast<unsigned>(k % 1200));
    s += Line(key, LanValue(rng, static_cast<int>(k), true));
  }
  return s;
}

// What a case is made of: the bytes of the file and what must hold beyond
// the common checks.
struct Case {
  int number = 0;
  const char* kind = "";
  std::string bytes;
  std::string ansiTwin;  // the same settings as ANSI text: must load the same
  int lanBoxes = -1;     // message 5 boxes expected, -1 when not predicted
};

// The kinds of damage by case number. Loads that read hundreds of keys one
// by one, or parse thousands, are slow under Wine: those kinds come once in
// a hundred cases.
constexpr int kKindCount = 8;
int KindOf(int number) {
  static const int kPattern[50] = {0, 1, 2, 4, 5, 7, 1, 4, 5, 7, 0, 1, 2, 4, 5, 7, 1, 4, 5, 7, 0, 1, 2, 4, 5,
                                   0, 1, 2, 4, 5, 7, 1, 4, 5, 7, 0, 1, 2, 4, 5, 7, 1, 4, 5, 7, 0, 7, 2, 1, 5};
  if (number % 100 == 24) return 3;
  if (number % 100 == 49) return 6;
  return kPattern[number % 50];
}

Case MakeCase(int number) {
  Random rng(kSeed * 1000003u + static_cast<uint64_t>(number));
  Case c;
  c.number = number;
  auto encoding = [&] { return static_cast<Encoding>(rng.Below(static_cast<size_t>(Encoding::kCount))); };
  switch (KindOf(number)) {
    case 0: {
      c.kind = "same settings, UTF-16 and ANSI";
      std::wstring doc = Document(rng, true, static_cast<int>(rng.Below(12)), false);
      c.bytes = Encode(doc, Encoding::kUtf16Bom);
      c.ansiTwin = Encode(doc, Encoding::kAnsi);
      break;
    }
    case 1:
      c.kind = "cut short";
      c.bytes = Encode(Document(rng, rng.OneIn(2), static_cast<int>(rng.Below(12)), false), encoding());
      Truncate(rng, c.bytes);
      break;
    case 2: {
      c.kind = "enormous line";
      std::wstring doc = Document(rng, false, static_cast<int>(rng.Below(6)), false);
      size_t next = doc.find(L"\r\n[");
      doc.insert(rng.OneIn(2) || next == std::wstring::npos ? doc.size() : next + 2, EnormousLine(rng));
      c.bytes = Encode(doc, encoding());
      break;
    }
    case 3:
      c.kind = "thousands of keys";
      c.bytes = Encode(Document(rng, true, 3, false) + ManyKeys(rng), encoding());
      break;
    case 4:
      c.kind = "repeated sections";
      c.bytes = Encode(Document(rng, rng.OneIn(2), static_cast<int>(rng.Below(12)), true), encoding());
      break;
    case 5:
      c.kind = "binary bytes";
      if (rng.OneIn(4)) {
        size_t n = rng.Below(70000);
        for (size_t i = 0; i < n; ++i) c.bytes += static_cast<char>(rng.Next());
      } else {
        c.bytes = Encode(Document(rng, false, static_cast<int>(rng.Below(12)), false), encoding());
        size_t rounds = 1 + rng.Below(4);
        for (size_t i = 0; i < rounds; ++i) (rng.OneIn(2) ? FlipBytes : InsertBinary)(rng, c.bytes);
      }
      break;
    case 6: {
      c.kind = "more than 255 LAN entries";
      int entries = 256 + static_cast<int>(rng.Below(450));
      std::wstring doc = L"[Language]\r\nCountry=English\r\n[IPAddress]\r\n";
      bool noneAt256 = rng.OneIn(3);
      for (int n = 1; n <= entries; ++n) {
        wchar_t line[96];
        swprintf(line, 96, L"Port%03d=1,KM-510,%ls,\r\n", n,
                 n == 256 && noneAt256 ? L"None" : (L"127.0." + std::to_wstring(n / 200) + L"." +
                                                    std::to_wstring(n % 200)).c_str());
        doc += line;
      }
      c.bytes = Encode(doc, rng.OneIn(2) ? Encoding::kUtf16Bom : Encoding::kAnsi);
      // An entry without an address is skipped, so only real addresses count toward the limit.
      c.lanBoxes = entries - (noneAt256 ? 1 : 0) > kLanListMaxUsed ? 1 : 0;
      break;
    }
    default: {
      c.kind = "mixed damage";
      c.bytes = Encode(Document(rng, rng.OneIn(2), static_cast<int>(rng.Below(12)), rng.OneIn(2)), encoding());
      size_t rounds = 1 + rng.Below(4);
      for (size_t i = 0; i < rounds; ++i) Damage(rng, c.bytes);
      break;
    }
  }
  return c;
}

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
  if (const char* only = getenv("KIT_SETTINGS_CASE")) {
    first = atoi(only);
    last = first + 1;
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
