// The debug-log record of a received block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/hex_dump.h"

namespace {

const std::string kRule(47, '*');

std::string Dump(const std::vector<uint8_t>& data, size_t capacity = kHexDumpTextBytes) {
  std::vector<char> out(capacity + 1, 'Z');
  size_t n = FormatHexDump(data.data(), data.size(), out.data(), capacity);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(out[capacity], 'Z') << "wrote past the capacity";
  return std::string(out.data(), n);
}

TEST(HexDump, LayoutOfFullAndPartialLines) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    std::string expected;
  } cases[] = {
      {"empty", {}, "ReceiveData = 0 Byte\n" + kRule + "\n\n" + kRule},
      {"reset reply", {0x3B, 0x33, 0x00},
       "ReceiveData = 3 Byte\n" + kRule + "\n3b,33,00" + std::string(48 - 9, ' ') + "     ;3." + "\n" + kRule},
      {"one full line",
       {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 0x0D, 0xFF},
       "ReceiveData = 16 Byte\n" + kRule + "\n30,31,32,33,34,35,36,37,38,39,41,42,43,44,0d,ff     0123456789ABCD.\xff\r\n" +
           kRule},
      {"full line then one byte",
       std::vector<uint8_t>(17, 0x1F),
       "ReceiveData = 17 Byte\n" + kRule + "\n1f,1f,1f,1f,1f,1f,1f,1f,1f,1f,1f,1f,1f,1f,1f,1f     ................\r" +
           "1f" + std::string(45, ' ') + "     .\n" + kRule},
  };
  for (const Case& c : cases) EXPECT_EQ(Dump(c.data), c.expected) << c.name;
}

TEST(HexDump, CharacterColumnLinesUpForEveryPartialLength) {
  for (size_t n = 1; n <= 16; ++n) {
    std::vector<uint8_t> data(n, 'a');
    std::string text = Dump(data);
    size_t line = text.find('\n') + kRule.size() + 2;
    // 47 hex columns, five spaces, then the characters.
    EXPECT_EQ(text.substr(line + 47, 5 + n), "     " + std::string(n, 'a')) << n << " bytes";
  }
}

TEST(HexDump, LongBlockIsCutAtTheTextSize) {
  std::vector<uint8_t> data(4000, 0x41);
  std::string text = Dump(data);
  EXPECT_EQ(text.size(), kHexDumpTextBytes - 1);
  EXPECT_EQ(text.rfind("ReceiveData = 4000 Byte\n", 0), 0u);

  // Tiny capacities still terminate and never overrun.
  for (size_t cap : {1, 2, 10, 70}) {
    std::string small = Dump(data, cap);
    EXPECT_EQ(small.size(), cap - 1) << cap;
  }
  char none = 'Q';
  EXPECT_EQ(FormatHexDump(data.data(), data.size(), &none, 0), 0u);
  EXPECT_EQ(none, 'Q');
}

}  // namespace
