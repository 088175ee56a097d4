#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/firmware_file_rules.h"

namespace {

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

TEST(FirmwareFileRules, ExtensionsOfBothModes) {
  struct Case {
    int mode;
    const wchar_t* path;
    bool accepted;
  } cases[] = {
      {kWriteModeUpdate, L"C:\\fw\\fw.hx1", true},   {kWriteModeUpdate, L"FW.HX9", true},
      {kWriteModeUpdate, L"d:fw.hxa", true},         {kWriteModeUpdate, L"fw.hx", false},
      {kWriteModeUpdate, L"fw.hex", false},          {kWriteModeUpdate, L"fw.hx12", false},
      {kWriteModeUpdate, L"fw", false},              {kWriteModeUpdate, L"C:\\a.hx1\\fw", false},
      {kWriteModeRewriteAll, L"fw.HEX", true},       {kWriteModeRewriteAll, L"C:\\x.y\\fw.hex", true},
      {kWriteModeRewriteAll, L"fw.hx1", false},      {kWriteModeRewriteAll, L"fw.hex\"", false},
      {kWriteModeRewriteAll, L"", false},            {kWriteModeRewriteAll, L"fw.hexx", false},
  };
  for (const Case& c : cases) {
    std::wstring expected = ExpectedFirmwareExtension(c.mode, L"hx*");
    bool got = FirmwareExtensionMatches(c.mode, SplitFirmwarePath(c.path).extension, expected);
    EXPECT_EQ(got, c.accepted) << Narrow(c.path) << " mode " << c.mode;
  }
  EXPECT_EQ(ExpectedFirmwareExtension(kWriteModeUpdate, L"hx*"), L".hx*");
  EXPECT_EQ(ExpectedFirmwareExtension(kWriteModeRewriteAll, L"hx*"), L".hex");
  EXPECT_EQ(ExpectedFirmwareExtension(kWriteModeUpdate, std::wstring(400, L'h').c_str()).size(), kExtensionChars - 1);
}

TEST(FirmwareFileRules, PathParts) {
  FirmwarePathParts p = SplitFirmwarePath(L"C:\\dir.v2\\sub\\fw.a.hx1");
  EXPECT_EQ(p.folder, L"C:\\dir.v2\\sub\\");
  EXPECT_EQ(p.extension, L".hx1");
  p = SplitFirmwarePath(L"fw");
  EXPECT_EQ(p.folder, L"");
  EXPECT_EQ(p.extension, L"");
}

// A header at `at`; whatever would fall beyond `size` is left out.
std::vector<uint8_t> WithHeader(size_t size, size_t at, const char* a, const char* b) {
  std::vector<uint8_t> data(size, 0xEE);
  auto put = [&](size_t i, uint8_t v) {
    if (i < size) data[i] = v;
  };
  const uint8_t head[16] = {'H', 't', '1', 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x24, 0};
  for (size_t i = 0; i < 16; ++i) put(at + i, head[i]);
  for (size_t i = 16; i < 64; ++i) put(at + i, 0);
  for (size_t i = 0; a[i] != 0; ++i) put(at + 32 + i, static_cast<uint8_t>(a[i]));
  for (size_t i = 0; b != nullptr && b[i] != 0; ++i) put(at + 48 + i, static_cast<uint8_t>(b[i]));
  return data;
}

TEST(FirmwareFileRules, HeaderScan) {
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    bool found;
    const char* label;
  } cases[] = {
      {"at the start", WithHeader(1000, 0, "KM-510", "Ver1.02"), true, " KM-510 Ver1.02"},
      {"at an even offset", WithHeader(1000, 600, "A", "B"), true, " A B"},
      {"at the last offset scanned", WithHeader(1000, 966, "A", "B"), true, " A "},
      {"one past the last offset", WithHeader(1000, 968, "A", "B"), false, ""},
      {"at an odd offset", WithHeader(1000, 601, "A", "B"), false, ""},
      {"texts cut to the label", WithHeader(1000, 0, "AAAAAAAAAAAAAAA", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"),
       true, " AAAAAAAAAAAAAAA BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"},
      {"none", std::vector<uint8_t>(1000, 0x48), false, ""},
  };
  for (const Case& c : cases) {
    char label[kHeaderLabelBytes + 8];
    std::memset(label, 0x7F, sizeof(label));
    label[0] = '\0';
    bool found = FindFirmwareHeaderLabel(c.data.data(), c.data.size(), label);
    EXPECT_EQ(found, c.found) << c.what;
    if (found) {
      EXPECT_STREQ(label, c.label) << c.what;
    }
    for (size_t i = kHeaderLabelBytes; i < sizeof(label); ++i) ASSERT_EQ(label[i], 0x7F) << c.what;
  }
  // A header whose text runs into the end of the data reads only what is there.
  std::vector<uint8_t> tail = WithHeader(100, 60, "", nullptr);
  std::memset(&tail[92], 'x', 8);
  char label[kHeaderLabelBytes];
  ASSERT_TRUE(FindFirmwareHeaderLabel(tail.data(), tail.size(), label));
  EXPECT_STREQ(label, " xxxxxxxx ");
  EXPECT_FALSE(FindFirmwareHeaderLabel(tail.data(), 32, label));
}

}  // namespace
