#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/settings_rules.h"

namespace {

const wchar_t kNone[] = L"None";

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return s;
}

TEST(SettingsRules, AsciiCompareFoldsOnlyAsciiLetters) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  } cases[] = {
      {L"japan", L"Japan", true},     {L"VID/PID", L"vid/pid", true}, {L"USB", L"USBx", false},
      {L"", L"", true},               {nullptr, L"", true},          {L"\u00c4", L"\u00e4", false},
      {L"Enable", L"Enable ", false}, {L"[", L"{", false},           {L"@", L"`", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AsciiEqualNoCase(c.a, c.b), c.equal)
        << Narrow(c.a ? c.a : L"(null)") << " vs " << Narrow(c.b) << " expected " << c.equal;
  }
  EXPECT_TRUE(AsciiStartsWithNoCase(L"port012", L"Port"));
  EXPECT_FALSE(AsciiStartsWithNoCase(L"Po", L"Port"));
}

TEST(SettingsRules, DecimalReading) {
  struct Case {
    const wchar_t* text;
    int32_t expected;
  } cases[] = {
      {L"12", 12},         {L"  7x", 7},     {L"\t-3", -3},     {L"+4", 4},
      {L"", 0},            {L"x1", 0},       {L"-", 0},         {L"0012", 12},
      {L"1 2", 1},         {L"- 5", 0},      {L"99999999999", INT32_MAX}, {L"-99999999999", INT32_MIN},
      {L"\u306a\u3057", 0}, {L"\uff11", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadDecimal(c.text), c.expected) << Narrow(c.text);
  }
}

// Anything that is not a count above 1 keeps the one-after-another run.
TEST(SettingsRules, LanParallel) {
  struct Case {
    const wchar_t* text;
    int32_t expected;
  } cases[] = {
      {nullptr, 1}, {L"", 1},   {L"abc", 1},  {L"0", 1},   {L"-5", 1},  {L"1", 1},
      {L"2", 2},    {L" 16", 16}, {L"64", 64}, {L"65", 64}, {L"99999999999", 64},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LanParallelValue(c.text), c.expected) << (c.text ? Narrow(c.text) : "(no key)");
  }
}

TEST(SettingsRules, CommaTokens) {
  struct Case {
    const wchar_t* value;
    std::vector<std::wstring> tokens;
  } cases[] = {
      {L"a,b,c", {L"a", L"b", L"c"}},
      {L"LX7400,,Enable,Disable", {L"LX7400", L"Enable", L"Disable"}},
      {L",,a,,,b,", {L"a", L"b"}},
      {L"", {}},
      {L",,,", {}},
      {L" a , b", {L" a ", L" b"}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> got = SplitCommaTokens(c.value);
    EXPECT_EQ(got, c.tokens) << Narrow(c.value);
  }
}

TEST(SettingsRules, ModelValues) {
  struct Case {
    const wchar_t* value;
    const wchar_t* name;
    const wchar_t* usb;
    int lpt;
    const wchar_t* ext;
  } cases[] = {
      {L"KM-510,fe5a/0a01/,Enable,hx*", L"KM-510", L"fe5a/0a01/", 1, L"hx*"},
      {L"KM-1000,fe5a/0a02/,Disable,hx*", L"KM-1000", L"fe5a/0a02/", 0, L"hx*"},
      // An empty field vanishes and the later ones move up.
      {L"LX7400,,Enable,Disable", L"LX7400", L"Enable", 0, kNone},
      {L"KM-9", L"KM-9", kNone, 0, kNone},
      {L"A,B,enable,x,y,z", L"A", L"B", 1, L"x"},
      {L"", kNone, kNone, 0, kNone},
      {L"KM\x07-510\x85\u2028,fe5a/0a01/", L"KM-510", L"fe5a/0a01/", 0, kNone},
  };
  for (const Case& c : cases) {
    ModelRecord r;
    std::memset(&r, 0x5a, sizeof(r));
    ParseModelValue(c.value, kNone, &r);
    EXPECT_EQ(std::wstring(r.modelName), c.name) << Narrow(c.value);
    EXPECT_EQ(std::wstring(r.usbIdText), c.usb) << Narrow(c.value);
    EXPECT_EQ(r.lptEnabled, c.lpt) << Narrow(c.value);
    EXPECT_EQ(std::wstring(r.updateExtension), c.ext) << Narrow(c.value);
  }
}

TEST(SettingsRules, LongFieldsAreCutToTheRecord) {
  std::wstring longText(1000, L'x');
  std::wstring value = longText + L"," + longText + L",Enable," + longText;
  struct Guarded {
    ModelRecord record;
    unsigned char guard[64];
  } g;
  std::memset(&g, 0x5a, sizeof(g));
  ParseModelValue(value.c_str(), kNone, &g.record);
  EXPECT_EQ(std::wcslen(g.record.modelName), 260u);
  EXPECT_EQ(std::wcslen(g.record.usbIdText), 22u);
  EXPECT_EQ(std::wcslen(g.record.updateExtension), 257u);
  for (unsigned char b : g.guard) ASSERT_EQ(b, 0x5a);

  struct GuardedLan {
    LanPrinterRecord record;
    unsigned char guard[64];
  } l;
  std::memset(&l, 0x5a, sizeof(l));
  std::wstring lan = L"1," + longText + L"," + longText + L"," + longText + L"," + longText;
  ParseLanValue(lan.c_str(), kNone, AsciiOnlyToAnsi, &l.record);
  EXPECT_EQ(std::wcslen(l.record.modelNameW), 63u);
  EXPECT_EQ(std::wcslen(l.record.ipAddressW), 31u);
  EXPECT_EQ(std::wcslen(l.record.macAddressW), 31u);
  EXPECT_EQ(std::wcslen(l.record.deviceIdW), 511u);
  EXPECT_EQ(std::strlen(l.record.modelName), 31u);
  EXPECT_EQ(std::strlen(l.record.ipAddress), 31u);
  EXPECT_EQ(std::strlen(l.record.deviceId), 511u);
  for (unsigned char b : l.guard) ASSERT_EQ(b, 0x5a);
}

TEST(SettingsRules, LanValues) {
  struct Case {
    const wchar_t* value;
    int slot;
    const wchar_t* model;
    const wchar_t* ip;
    const wchar_t* mac;
    const wchar_t* deviceId;
  } cases[] = {
      {L"1,KM-510,127.0.0.5,00:11:22:33:44:55", 1, L"KM-510", L"127.0.0.5", L"00:11:22:33:44:55", L""},
      {L"x,KM-510,127.0.0.5,aa", 0, L"KM-510", L"127.0.0.5", L"aa", L""},
      {L"0,KM,127.0.0.6", 0, L"KM", L"127.0.0.6", L"", L""},
      {L"1,KM,127.0.0.6,None,None", 1, L"KM", L"127.0.0.6", L"", L""},
      {L"1,KM,127.0.0.6,m,0010 MFG:X;", 1, L"KM", L"127.0.0.6", L"m", L"0010 MFG:X;"},
      {L"1", 1, kNone, kNone, L"", L""},
      {L"None,a,b", 0, L"a", L"b", L"", L""},
      {L"7,a,b", 1, L"a", L"b", L"", L""},
      {L"-1,a,b", 1, L"a", L"b", L"", L""},
      // A hand-edited or network-made value keeps its printable characters only.
      {L"1,KM\r\n[Printer]\x1b,127.0.0.7\u202e,00:11\t", 1, L"KM[Printer]", L"127.0.0.7", L"00:11", L""},
  };
  for (const Case& c : cases) {
    LanPrinterRecord r = {};
    ParseLanValue(c.value, kNone, AsciiOnlyToAnsi, &r);
    EXPECT_EQ(r.librarySlot, c.slot) << Narrow(c.value);
    EXPECT_EQ(std::wstring(r.modelNameW), c.model) << Narrow(c.value);
    EXPECT_EQ(std::wstring(r.ipAddressW), c.ip) << Narrow(c.value);
    EXPECT_EQ(std::wstring(r.macAddressW), c.mac) << Narrow(c.value);
    EXPECT_EQ(std::wstring(r.deviceIdW), c.deviceId) << Narrow(c.value);
    EXPECT_EQ(std::string(r.ipAddress), Narrow(c.ip)) << Narrow(c.value);
  }
}

TEST(SettingsRules, PortAndPrinterValidation) {
  struct ComCase {
    const wchar_t* text;
    int index;
  } com[] = {{L"COM1", 0}, {L"com4", 3}, {L"COM7", 4}, {L"COM0", -1}, {L"COMx", -1},
             {L"COM", -1}, {L"LPT1", -1}, {L"Com 12", 4}, {L"", -1}};
  for (const ComCase& c : com) EXPECT_EQ(PortComIndex(c.text), c.index) << Narrow(c.text);

  struct Valid {
    const wchar_t* text;
    bool valid;
  } lan[] = {{L"Port001", true}, {L"port012", true}, {L"Port255", true}, {L"Port256", false},
             {L"Port01", false}, {L"Port000", false}, {L"Port0001", false}, {L"Prt0010", false},
             {L"Port-01", false}, {L"", false}};
  for (const Valid& c : lan) EXPECT_EQ(IsValidPortLan(c.text), c.valid) << Narrow(c.text);

  Valid printer[] = {{L"Printer01", true}, {L"printer99", true}, {L"Printer00", false},
                     {L"Printer100", false}, {L"Print01", false}, {L"Printer1", false}};
  for (const Valid& c : printer) EXPECT_EQ(IsValidPrinterConnected(c.text), c.valid) << Narrow(c.text);
}

std::wstring Listing(std::initializer_list<const wchar_t*> lines) {
  std::wstring out;
  for (const wchar_t* l : lines) {
    out += l;
    out += L'\0';
  }
  out += L'\0';
  return out;
}

TEST(SettingsRules, ListingLinesSplitAtEquals) {
  struct Case {
    const wchar_t* line;
    std::vector<std::pair<std::wstring, std::wstring>> rows;
  } cases[] = {
      {L"Type=PowerOn", {{L"Type", L"PowerOn"}}},
      {L"==Type=PowerOn", {{L"Type", L"PowerOn"}}},
      {L"Filename=C:\\a=b", {{L"Filename", L"C:\\a"}, {L"b", L""}}},
      {L"a=b=c=d", {{L"a", L"b"}, {L"c", L"d"}}},
      {L"a==b", {{L"a", L""}, {L"b", L""}}},
      {L"novalue", {{L"novalue", L""}}},
      {L"key=", {{L"key", L""}}},
      {L"a=b=", {{L"a", L"b"}}},
  };
  for (const Case& c : cases) {
    std::vector<SettingsRow> rows;
    SplitListingLine(kSectionSend, c.line, std::wcslen(c.line), &rows);
    std::vector<std::pair<std::wstring, std::wstring>> got;
    for (const SettingsRow& r : rows) got.emplace_back(r.key, r.value);
    EXPECT_EQ(got, c.rows) << Narrow(c.line);
  }
}

TEST(SettingsRules, ListingCollectsEntriesAndSelections) {
  SettingsListing listing;
  std::wstring language = Listing({L"Country=japan"});
  std::wstring port = Listing({L"PortUSB=", L"PortCOM=", L"PortLPT=", L"PortLAN=Port002"});
  std::wstring printer = Listing({L"Connected=printer03", L"Printer01=A", L"Printer02=B", L"Printer03=C"});
  std::wstring lan = Listing({L"Port001=1,a,127.0.0.2", L"Port002=1,b,127.0.0.3"});
  CollectSectionListing(kSectionLanguage, language.data(), language.size(), &listing);
  CollectSectionListing(kSectionPort, port.data(), port.size(), &listing);
  CollectSectionListing(kSectionPrinter, printer.data(), printer.size(), &listing);
  CollectSectionListing(kSectionIpAddress, lan.data(), lan.size(), &listing);
  EXPECT_EQ(listing.languageIndex, 0);
  ASSERT_EQ(listing.rows.size(), 11u);
  EXPECT_EQ(listing.rows[1].value, L"\u306a\u3057") << "empty PortUSB takes the None word";
  EXPECT_EQ(listing.rows[2].value, L"COM1");
  EXPECT_EQ(listing.rows[3].value, L"LPT1");
  EXPECT_EQ(listing.modelRows.size(), 3u);
  EXPECT_EQ(listing.lanRows.size(), 2u);
  EXPECT_EQ(SelectedModelIndex(listing), 2);
  EXPECT_EQ(SelectedLanIndex(listing), 1);

  // Nothing matches: the first entry.
  SettingsListing other;
  std::wstring p2 = Listing({L"Connected=Printer09", L"Printer01=A"});
  CollectSectionListing(kSectionPrinter, p2.data(), p2.size(), &other);
  EXPECT_EQ(SelectedModelIndex(other), 0);
  EXPECT_EQ(SelectedLanIndex(other), 0);
}

// Only as many rows are taken as keys can name, so a table's size cannot
// wrap on 32 bits (rows x 1088 bytes passes 2^32 at 3,947,581 rows).
TEST(SettingsRules, RowCountsAreCappedBeforeTablesAreSized) {
  std::wstring printer = L"Connected=Printer2";
  std::wstring lan;
  printer += L'\0';
  for (int n = 1; n <= 300; ++n) {
    printer += L"Printer" + std::to_wstring(n) + L"=M" + std::to_wstring(n) + L'\0';
    lan += L"Port" + std::to_wstring(n) + L"=1,KM,127.0.1." + std::to_wstring(n % 250) + L'\0';
  }
  printer += L'\0';
  SettingsListing listing;
  CollectSectionListing(kSectionPrinter, printer.data(), printer.size(), &listing);
  CollectSectionListing(kSectionIpAddress, lan.data(), lan.size(), &listing);
  EXPECT_EQ(listing.modelRows.size(), kMaxModelRows);
  EXPECT_EQ(listing.lanRows.size(), kMaxLanRows);
  EXPECT_EQ(listing.rows.size(), 1 + kMaxModelRows + kMaxLanRows) << "rows beyond the caps are not kept";
  EXPECT_EQ(listing.rows[listing.modelRows.back()].value, L"M99");
  EXPECT_TRUE(listing.moreLanEntries);
  EXPECT_EQ(SelectedModelIndex(listing), 1);

  const struct {
    size_t count;
    size_t recordBytes;
    bool fits;
  } sizes[] = {
      {100, 1088, true},
      {SIZE_MAX / 1088, 1088, true},
      {SIZE_MAX / 1088 + 1, 1088, false},
      // Just past 2^32 bytes: wraps on the 32-bit build, fits on 64 bits.
      {static_cast<size_t>((uint64_t{1} << 32) / 1088 + 1), 1088, sizeof(size_t) > 4},
      {SIZE_MAX, 2, false},
  };
  for (const auto& c : sizes) {
    size_t bytes = 7;
    EXPECT_EQ(CheckedTableBytes(c.count, c.recordBytes, &bytes), c.fits) << c.count << " x " << c.recordBytes;
    if (c.fits) EXPECT_EQ(bytes, c.count * c.recordBytes);
  }
}

TEST(SettingsRules, ListingWithoutTerminatorStopsAtItsLength) {
  const wchar_t raw[] = {L'a', L'=', L'b', L'\0', L'c', L'=', L'd'};  // no closing NULs
  SettingsListing listing;
  CollectSectionListing(kSectionIpAddress, raw, sizeof(raw) / sizeof(raw[0]), &listing);
  ASSERT_EQ(listing.rows.size(), 2u);
  EXPECT_EQ(listing.rows[1].key, L"c");
  EXPECT_EQ(listing.rows[1].value, L"d");
}

}  // namespace
