// The COM box's typing rule, keystroke by keystroke as the box applies it.
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
