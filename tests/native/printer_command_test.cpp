// Command bytes and the reply checks and parses of the command exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/command_kinds.h"
#include "core/printer_command.h"
#include "core/result_codes.h"

namespace {

std::vector<uint8_t> Bytes(const char* text, size_t n) { return std::vector<uint8_t>(text, text + n); }

std::string Hex(const uint8_t* p, size_t n) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof(b), "%02X ", p[i]);
    out += b;
  }
  return out;
}

TEST(PrinterCommand, FixedCommandBytesOfEachKind) {
  struct Case {
    uint16_t kind;
    const char* hex;
  } cases[] = {
      {MODE_RESET3, "1B 3D 02 52 45 53 45 54 33 1B 3D 03 "},
      {MODE_VERSION_PRINT, "1B 40 1D 28 41 02 00 00 02 "},
      {MODE_READFIX, "1D 65 52 45 41 44 46 49 58 "},
      {MODE_READVARI, "1D 65 52 45 41 44 56 41 52 49 "},
      {MODE_FWSEND, ""},
      {MODE_SERIALNO_SET, ""},
      {99, ""},
  };
  for (const Case& c : cases) {
    size_t n = 123;
    const uint8_t* p = FixedCommandBytes(c.kind, &n);
    std::string got = p ? Hex(p, n) : "";
    EXPECT_EQ(got, c.hex) << "kind " << c.kind;
    EXPECT_EQ(n * 3, strlen(c.hex)) << "kind " << c.kind;
  }
}

TEST(PrinterCommand, SerialCommandCarriesLengthByteAndRefusesWhatItCannotDescribe) {
  uint8_t out[kSerialCommandMaxBytes];
  size_t n = BuildSerialCommand("AB1234", 6, out);
  EXPECT_EQ(n, 15u);
  EXPECT_EQ(Hex(out, n), "1D 67 53 45 52 49 41 4C 06 41 42 31 32 33 34 ");

  EXPECT_EQ(BuildSerialCommand("", 0, out), 9u);
  EXPECT_EQ(out[8], 0);

  std::string longest(255, 'x');
  EXPECT_EQ(BuildSerialCommand(longest.data(), 255, out), 264u);
  EXPECT_EQ(out[8], 255);
  std::string tooLong(256, 'x');
  EXPECT_EQ(BuildSerialCommand(tooLong.data(), 256, out), 0u) << "a wrapped length byte must never be built";
}

TEST(PrinterCommand, ReplyHeaders) {
  struct Case {
    const char* bytes;
    size_t n;
    bool reset, fix, vari;
  } cases[] = {
      {";3\0", 3, true, false, false},  {";3\1", 3, false, false, false}, {";3", 2, false, false, false},
      {"7`x", 3, false, true, false},   {"7a", 2, false, false, true},    {"7", 1, false, false, false},
      {"", 0, false, false, false},
  };
  for (const Case& c : cases) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(c.bytes);
    EXPECT_EQ(IsReset3Reply(p, c.n), c.reset) << Hex(p, c.n);
    EXPECT_EQ(HasReadFixHeader(p, c.n), c.fix) << Hex(p, c.n);
    EXPECT_EQ(HasReadVariHeader(p, c.n), c.vari) << Hex(p, c.n);
  }
}

TEST(PrinterCommand, ReadFixParseTable) {
  struct Case {
    const char* name;
    std::string text;
    int32_t result;
    const char* out;
  } cases[] = {
      {"accepted shape", "Firmware Number  ABC-123\r\nFirmware Version  01.23  A\r\nBaud 9600\r\n", 0,
       "ABC-123 01.23 A"},
      {"upper case", "FIRMWARE NUMBER ABC\r\nFIRMWARE VERSION 1.0\r\n", 0, "ABC 1.0"},
      {"lower case", "firmware number x1\r\nfirmware version v2\r\n", 0, "x1 v2"},
      {"mixed case", "fIrMwArE nUmBeR 7\r\nFiRmWaRe VeRsIoN 8\r\n", 0, "7 8"},
      {"number spaces dropped", "Firmware Number  A B C\r\nFirmware Version 1\r\n", 0, "ABC 1"},
      {"version spaces collapsed", "Firmware Number N\r\nFirmware Version  01.23   A  \r\n", 0, "N 01.23 A "},
      {"19 characters and CR", "Firmware Number " + std::string(19, '9') + "\r\nFirmware Version V\r\n", 0,
       "9999999999999999999 V"},
      {"20 characters and CR", "Firmware Number " + std::string(20, '9') + "\r\nFirmware Version V\r\n",
       PRT_ERR_FORMAT, ""},
      {"20 characters without CR", "Firmware Number " + std::string(20, '9') + "\nFirmware Version V\r\n", 0,
       "99999999999999999999 V"},
      {"version 19 and CR", "Firmware Number N\r\nFirmware Version " + std::string(19, 'v') + "\r\n", 0,
       "N vvvvvvvvvvvvvvvvvvv"},
      {"version 20 and CR", "Firmware Number N\r\nFirmware Version " + std::string(20, 'v') + "\r\n",
       PRT_ERR_FORMAT, ""},
      {"word in front", "The firmware number N\r\nFirmware Version V\r\n", PRT_ERR_FORMAT, ""},
      {"word in front, upper case", "The FIRMWARE NUMBER N\r\nFirmware Version V\r\n", 0, "N V"},
      {"no number", "Firmware Version V\r\n", PRT_ERR_FORMAT, ""},
      {"no version", "Firmware Number N\r\nBaud 9600\r\n", PRT_ERR_FORMAT, ""},
      {"no line feed after number", "Firmware Number N Firmware Version V", PRT_ERR_FORMAT, ""},
      {"version later in text", "Firmware Number N\r\nX\r\nFIRMWARE VERSION V\r\n", 0, "N V"},
      {"version before number", "FIRMWARE VERSION V\r\nFirmware Number N\r\n", PRT_ERR_FORMAT, ""},
      {"text ends at NUL", std::string("Firmware Number N\r\n\0Firmware Version V\r\n", 40), PRT_ERR_FORMAT, ""},
      {"empty", "", PRT_ERR_FORMAT, ""},
      {"version up to end of text", "Firmware Number N\r\nFirmware Version V", 0, "N V"},
  };
  for (const Case& c : cases) {
    char out[kFirmwareTextBytes];
    memset(out, 0, sizeof(out));
    int32_t got = ParseReadFixText(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), out);
    EXPECT_EQ(got, c.result) << c.name;
    EXPECT_STREQ(out, c.out) << c.name;
  }
}

TEST(PrinterCommand, ReadFixParseLeavesReplyAloneAndReadsNoFurther) {
  // The text is handed over without terminator in a block of its exact size,
  // so AddressSanitizer sees any read beyond it.
  std::string text = "firmware number N\r\nfirmware version V";
  std::vector<uint8_t> exact(text.begin(), text.end());
  char out[kFirmwareTextBytes] = {};
  EXPECT_EQ(ParseReadFixText(exact.data(), exact.size(), out), 0);
  EXPECT_STREQ(out, "N V");
  EXPECT_EQ(std::string(exact.begin(), exact.end()), text) << "the caller's reply is not upper-cased in place";
  for (size_t cut = 0; cut < exact.size(); ++cut) {
    std::vector<uint8_t> part(exact.begin(), exact.begin() + static_cast<long>(cut));
    ParseReadFixText(part.data(), part.size(), out);
  }
}

TEST(PrinterCommand, ReadVariSerialSpan) {
  struct Case {
    std::vector<uint8_t> reply;
    size_t length;
  } cases[] = {
      {Bytes("7aSN000001\r\0", 12), 8},
      {Bytes("7aSN0\0", 6), 3},
      {Bytes("7aABC", 5), 3},
      {Bytes("7a\0", 3), 0},
      {Bytes("7a", 2), 0},
      {Bytes("7aX\rY\0", 6), 1},
  };
  for (const Case& c : cases) {
    size_t start = 99;
    EXPECT_EQ(ReadVariSerialSpan(c.reply.data(), c.reply.size(), &start), c.length) << Hex(c.reply.data(), c.reply.size());
    EXPECT_EQ(start, 2u);
  }
}

}  // namespace
