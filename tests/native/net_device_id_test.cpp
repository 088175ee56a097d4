#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/device_id.h"

namespace {

std::string HexReply(const std::string& text, unsigned length) {
  char header[8];
  std::snprintf(header, sizeof(header), "%04x ", length);
  return header + text;
}

std::string BigEndianReply(const std::string& text, unsigned length) {
  std::string out;
  out += static_cast<char>((length >> 8) & 0xFF);
  out += static_cast<char>(length & 0xFF);
  return out + text;
}

struct ModelCase {
  const char* name;
  std::string text;
  bool found;
  const char* model;
};

}  // namespace

TEST(DeviceIdModel, KeysAndValueEnds) {
  const ModelCase cases[] = {
      {"MDL with semicolon", "MFG:Kitmaker;CMD:ESC/POS;MDL:KM-510;CLS:PRINTER;", true, "KM-510"},
      {"MODEL wins over MDL", "MDL:Short;MODEL:LongName;", true, "LongName"},
      {"MODEL after MDL still wins", "MFG:X;MDL:A1;MODEL:B2;CLS:P;", true, "B2"},
      {"value at the end without semicolon", "MFG:Kitmaker;MDL:KM-20", true, "KM-20"},
      {"empty value", "MDL:;CLS:PRINTER;", true, ""},
      {"no key", "MFG:Kitmaker;CMD:ESC/POS;CLS:PRINTER;", false, ""},
      {"key case matters", "mdl:lower;model:lower;", false, ""},
      {"text stops at a zero byte", std::string("MFG:X;\0MDL:Hidden;", 18), false, ""},
      {"value cut at a zero byte", std::string("MDL:AB\0CD;", 10), true, "AB"},
  };
  for (const ModelCase& c : cases) {
    for (DeviceIdLengthForm form : {DeviceIdLengthForm::HexDigits, DeviceIdLengthForm::BigEndian}) {
      unsigned length = static_cast<unsigned>(c.text.size() + 2);
      std::string reply = form == DeviceIdLengthForm::HexDigits ? HexReply(c.text, length) : BigEndianReply(c.text, length);
      char field[kDeviceIdFieldBytes];
      char model[256];
      std::memset(model, 'Z', sizeof(model));
      DeviceIdReply got = ParseDeviceIdReply(form, reply.data(), reply.size(), field, sizeof(field), model, sizeof(model));
      EXPECT_EQ(got.modelFound, c.found) << c.name;
      EXPECT_STREQ(model, c.model) << c.name;
      EXPECT_EQ(got.declaredLength, length) << c.name;
    }
  }
}

TEST(DeviceIdField, StoresHexLengthAndText) {
  const std::string text = "MFG:Kitmaker;CMD:ESC/POS;MDL:KM-510;CLS:PRINTER;DES:Receipt printer;";
  const unsigned length = static_cast<unsigned>(text.size() + 2);
  const std::string expected = HexReply(text, length);
  for (DeviceIdLengthForm form : {DeviceIdLengthForm::HexDigits, DeviceIdLengthForm::BigEndian}) {
    std::string reply = form == DeviceIdLengthForm::HexDigits ? HexReply(text, length) : BigEndianReply(text, length);
    char field[kDeviceIdFieldBytes];
    std::memset(field, 'Z', sizeof(field));
    char model[256];
    DeviceIdReply got = ParseDeviceIdReply(form, reply.data(), reply.size(), field, sizeof(field), model, sizeof(model));
    EXPECT_EQ(std::string(field), expected);
    EXPECT_EQ(got.textLength, text.size());
    EXPECT_EQ(got.textOffset, form == DeviceIdLengthForm::HexDigits ? 5u : 2u);
    EXPECT_EQ(field[kDeviceIdFieldBytes - 1], '\0') << "rest of the field is cleared";
  }
  EXPECT_EQ(DeviceIdFormOfSlot(0), DeviceIdLengthForm::BigEndian);
  EXPECT_EQ(DeviceIdFormOfSlot(1), DeviceIdLengthForm::HexDigits);
}

struct LengthCase {
  const char* name;
  std::string reply;     // as received
  size_t textLength;     // bytes of text kept
  const char* field;     // expected field text
};

// Untrusted length fields: the text kept is never more than what arrived and
// never more than the field holds, and the field's own length matches it.
TEST(DeviceIdField, GarbageLengthsStayInsideTheBuffers) {
  const std::string text = "MDL:KM-1;";
  const std::string big(600, 'A');
  const LengthCase cases[] = {
      {"length 0", "0000 " + text, 9, "000b MDL:KM-1;"},
      {"length 1", "0001 " + text, 9, "000b MDL:KM-1;"},
      {"length 2 keeps no text", "0002 " + text, 0, "0002 "},
      {"shorter length cuts the text", "0006 " + text, 4, "0006 MDL:"},
      {"length beyond what arrived", "ffff " + text, 9, "000b MDL:KM-1;"},
      {"upper-case digits", "000B " + text, 9, "000b MDL:KM-1;"},
      {"not hexadecimal", "zz12 " + text, 9, "000b MDL:KM-1;"},
      {"header only", "0040 ", 0, "0002 "},
      {"header cut short", "00", 0, "0002 "},
      {"nothing arrived", "", 0, "0002 "},
      {"longer than the field", HexReply(big, 602), kDeviceIdFieldText, nullptr},
  };
  for (const LengthCase& c : cases) {
    std::vector<char> reply(c.reply.begin(), c.reply.end());  // exact size: ASan sees any over-read
    char field[kDeviceIdFieldBytes];
    char model[256];
    DeviceIdReply got = ParseDeviceIdReply(DeviceIdLengthForm::HexDigits, reply.data(), reply.size(), field,
                                           sizeof(field), model, sizeof(model));
    EXPECT_EQ(got.textLength, c.textLength) << c.name;
    if (c.field != nullptr) {
      EXPECT_STREQ(field, c.field) << c.name;
    } else {
      EXPECT_EQ(std::strlen(field), kDeviceIdFieldBytes - 1) << c.name;
      EXPECT_EQ(std::string(field, 5), "01fc ") << c.name;
    }
  }
}

TEST(DeviceIdField, BigEndianGarbageLengths) {
  const std::string text = "MDL:KM-1;";
  const struct {
    const char* name;
    unsigned length;
    size_t kept;
  } cases[] = {{"0", 0, 9}, {"1", 1, 9}, {"exact", 11, 9}, {"too long", 0xFFFF, 9}, {"short", 6, 4}};
  for (const auto& c : cases) {
    std::string bytes = BigEndianReply(text, c.length);
    std::vector<char> reply(bytes.begin(), bytes.end());
    char field[kDeviceIdFieldBytes];
    char model[256];
    DeviceIdReply got = ParseDeviceIdReply(DeviceIdLengthForm::BigEndian, reply.data(), reply.size(), field,
                                           sizeof(field), model, sizeof(model));
    EXPECT_EQ(got.declaredLength, c.length) << c.name;
    EXPECT_EQ(got.textLength, c.kept) << c.name;
    EXPECT_STREQ(model, "KM-1") << c.name << ": the model search reads everything that arrived";
  }
}

TEST(DeviceIdModel, LongModelIsCutToTheBuffer) {
  const std::string name(300, 'M');
  std::string bytes = HexReply("MDL:" + name + ";", static_cast<unsigned>(name.size() + 7));
  std::vector<char> reply(bytes.begin(), bytes.end());
  char field[kDeviceIdFieldBytes];
  char model[32];
  DeviceIdReply got = ParseDeviceIdReply(DeviceIdLengthForm::HexDigits, reply.data(), reply.size(), field,
                                         sizeof(field), model, sizeof(model));
  EXPECT_TRUE(got.modelFound);
  EXPECT_EQ(std::string(model), std::string(31, 'M'));
}
