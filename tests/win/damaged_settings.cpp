// The damaged settings files of the loader's property test and of the
// start check: each made from a fixed seed and its case number.
#include "tests/win/damaged_settings.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>

#include "core/settings_types.h"

namespace settings_damage {
namespace {

constexpr uint64_t kSeed = 13;

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

}  // namespace

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

}  // namespace settings_damage
