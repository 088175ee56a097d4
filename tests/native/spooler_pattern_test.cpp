#include <gtest/gtest.h>

#include <string>

#include "core/spooler_pattern.h"

namespace {

std::string Show(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST(SpoolerPattern, PortTextToPattern) {
  const struct {
    const wchar_t* port;
    const wchar_t* pattern;
  } cases[] = {
      {L"LPT1", L"LPT1"},
      {L"USB001", L"USB001"},
      {L"COM1", L"COM1"},
      {L"KMr_192.168.0.20", L"192.168.0.20"},
      {L"KMl_192.168.0.20", L"192.168.0.20"},
      {L"kmr_192.168.0.20", L"kmr_192.168.0.20"},  // the prefix is case-sensitive
      {L"USB001:LPT", L"USB001"},
      {L"USB001:lpt", L"USB001"},
      {L"USB001:lP", L"USB001"},
      {L"KMr_10.0.0.1:LPT", L"KMr_10.0.0.1"},  // the colon rule wins over the prefix
      {L"USB001:L", L"USB001:L"},
      {L"FILE:", L"FILE:"},
      {L":LPT", L""},
      {L"KMr_", L""},
      {L"", L""},
      {L"USB", L""},  // port number unknown: no printer of the spooler is its
      {L"USB:LPT", L""},
      {L"USB1", L"USB1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(SpoolerPortPattern(c.port)), Show(c.pattern)) << Show(c.port);
}

TEST(SpoolerPattern, NoPortAndSelection) {
  EXPECT_TRUE(IsNoPortSelected(L"", L"None"));
  EXPECT_TRUE(IsNoPortSelected(L"NONE", L"None"));
  EXPECT_TRUE(IsNoPortSelected(L"none", L"None"));
  EXPECT_FALSE(IsNoPortSelected(L"None1", L"None"));
  EXPECT_TRUE(IsNoPortSelected(L"\u306a\u3057", L"\u306a\u3057"));
  EXPECT_FALSE(IsNoPortSelected(L"None", L"\u306a\u3057"));

  const struct {
    const wchar_t* pattern;
    const wchar_t* printer;
    const wchar_t* ports;
    bool selected;
  } cases[] = {
      {L"LPT1", L"Receipt", L"LPT1:", true},
      {L"LPT1", L"Receipt", L"LPT1:,LPT2:", true},
      {L"LPT1", L"Receipt", L"LPT2:,LPT1:", true},
      {L"LPT1", L"Receipt", L"LPT2:", false},
      // A digit next to the match makes it another port's.
      {L"COM1", L"Receipt", L"COM10:", false},
      {L"COM1", L"Receipt", L"COM10:,COM1:", true},
      {L"COM10", L"Receipt", L"COM1:", false},
      {L"USB001", L"Receipt", L"USB0010", false},
      {L"10.0.0.1", L"Receipt", L"IP_10.0.0.1", true},
      {L"10.0.0.1", L"Receipt", L"10.0.0.1_1", true},
      {L"10.0.0.1", L"Receipt", L"10.0.0.15", false},
      {L"10.0.0.1", L"Receipt", L"IP_10.0.0.12", false},
      {L"10.0.0.1", L"Receipt", L"110.0.0.1", false},
      {L"usb001", L"Receipt", L"USB001", false},  // case-sensitive
      {L"192.168.0.20", L"Receipt", L"KMr_192.168.0.20", true},
      {L"USB001", L"\\\\server\\printer", L"USB001", false},  // remote connection
      {L"USB001", L"a\\b", L"USB001", true},                   // one backslash is not a connection
      {L"", L"Receipt", L"USB001", false},                     // empty pattern selects nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SpoolerPrinterSelected(c.pattern, c.printer, c.ports), c.selected)
        << Show(c.pattern) << " / " << Show(c.printer) << " / " << Show(c.ports);
  }
}

}  // namespace
