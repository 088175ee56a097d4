// The COM rules of the window: typing the port name, and the flow control
// of the system's serial defaults.
#include "com_defaults_rule.h"
#include "com_name_rule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Types `keys` one at a time, correcting after each as the box does.
std::wstring Type(const std::wstring& keys) {
  std::wstring text;
  for (wchar_t key : keys) {
    if (text.size() >= kComNameMaxChars) continue;  // the box refuses a sixth character
    text = ComNameAfterTyping(text + key);
  }
  return text;
}

TEST(ComNameRule, TypedSequences) {
  struct Case {
    const wchar_t* keys;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"com5", L"COM5"},  {L"COM05", L"COM5"}, {L"CXM", L"C"},       {L"COM12", L"COM12"},
      {L"COM123", L"COM12"}, {L"COMx9", L"COM9"}, {L"cOm0", L"COM"},   {L"1COM", L"COM"},
      {L"COM10", L"COM10"}, {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Type(c.keys), c.expected) << "typed: " << std::string(c.keys, c.keys + wcslen(c.keys));
  }
}

TEST(ComNameRule, OnlyTheLastCharacterIsExamined) {
  // A pasted text is judged by its last character alone.
  EXPECT_EQ(ComNameAfterTyping(L"xyz5"), L"xyz5");
  EXPECT_EQ(ComNameAfterTyping(L"xyzA"), L"xyz");
  EXPECT_EQ(ComNameAfterTyping(L"COM123"), L"COM123");
}

}  // namespace

namespace {

TEST(ComDefaultsRule, FlowControlField) {
  struct Case {
    const wchar_t* value;
    int32_t expected;
  };
  const Case cases[] = {
      {L"115200,n,8,1,x", 1}, {L"115200,n,8,1,p", 0}, {L"115200,n,8,1", 0},  {L"115200,n,8,1,X", 0},
      {L"115200,n,8,1,xx", 0}, {L",,,,x", 1},          {L"x,x,x,x", 0},       {L"9600,n,8,1,x,extra", 1},
      {L"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComFlowControlFromPortsValue(c.value), c.expected)
        << "value: " << std::string(c.value, c.value + wcslen(c.value));
  }
}

}  // namespace
