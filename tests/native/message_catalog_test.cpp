#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "core/message_catalog.h"

namespace {

TEST(MessageCatalogue, CodesMapToTheirMessages) {
  struct Case {
    int32_t code;
    int number;
  } cases[] = {
      {0, 0},    {1, 1},     {24, 24},   {25, -1},  {1000, -1}, {-3, 17},  {-4, 17},  {-6, 17},
      {-7, 20},  {-8, 21},   {-9, 18},   {-20, 2},  {-21, 19},  {-22, 2},  {-23, 19}, {-30, 19},
      {-31, 24}, {-32, 23},  {-33, 19},  {-34, 19}, {-40, 19},  {-50, 22}, {-60, 22}, {-61, 22},
      {-62, 22}, {-1, -1},   {-2, -1},   {-5, -1},  {-10, -1},  {-63, -1}, {INT32_MIN, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageNumberForCode(c.code), c.number) << "code " << c.code;
}

TEST(MessageCatalogue, PresentationsOfTheNumbers) {
  for (int n = 0; n < kMessageCount; ++n) {
    const CatalogueMessage* m = FindCatalogueMessage(CatalogueOwner::kRomsmith, n);
    ASSERT_NE(m, nullptr) << n;
    bool noBox = n == 1 || n == 7 || n == 22;
    bool okCancel = n == 3 || n == 6 || (n >= 8 && n <= 12);
    bool information = okCancel || n == 13 || n == 14;
    bool formatted = n == 4 || n == 17 || n == 18 || n == 20 || n == 21;
    bool callerText = n == 3 || n == 6;
    MessageButtons buttons = noBox         ? MessageButtons::kNoBox
                             : okCancel    ? MessageButtons::kOkCancelInformation
                             : information ? MessageButtons::kOkInformation
                                           : MessageButtons::kOkExclamation;
    EXPECT_EQ(static_cast<int>(m->buttons), static_cast<int>(buttons)) << "message " << n;
    MessageTextSource source = formatted    ? MessageTextSource::kFormattedText
                               : callerText ? MessageTextSource::kCallerText
                                            : MessageTextSource::kCatalogueText;
    EXPECT_EQ(static_cast<int>(m->source), static_cast<int>(source)) << "message " << n;
    // Both programs share every message but 19.
    const CatalogueMessage* t = FindCatalogueMessage(CatalogueOwner::kTagsmith, n);
    for (int lang = 0; lang < 2; ++lang) {
      EXPECT_EQ(std::wcscmp(m->text[lang], t->text[lang]) == 0, n != 19) << "message " << n;
    }
  }
  EXPECT_EQ(FindCatalogueMessage(CatalogueOwner::kRomsmith, 25), nullptr);
  EXPECT_EQ(FindCatalogueMessage(CatalogueOwner::kRomsmith, -1), nullptr);
}

TEST(MessageCatalogue, JapaneseTextsSurviveAsWideCharacters) {
  struct Case {
    CatalogueOwner owner;
    int number;
    int language;
    const wchar_t* text;
  } cases[] = {
      {CatalogueOwner::kRomsmith, 2, 0,
       L"\u6709\u52b9\u306a\u30d7\u30ea\u30f3\u30bf\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3067\u3057\u305f"
       L"\u3002"},
      {CatalogueOwner::kRomsmith, 15, 0, L"Romsmith\u306f\u65e2\u306b\u8d77\u52d5\u3057\u3066\u3044\u307e\u3059\u3002"},
      {CatalogueOwner::kRomsmith, 20, 0,
       L"\u62e1\u5f35\u5b50\u304c\u9055\u3044\u307e\u3059\u3002\n\"%s\" \u30d5\u30a1\u30a4\u30eb\u3092\u78ba\u8a8d"
       L"\u3057\u3066\u304f\u3060\u3055\u3044\u3002"},
      {CatalogueOwner::kRomsmith, 17, 1, L"Cannot find the file.\nCheck the \"%s\"file."},
      {CatalogueOwner::kRomsmith, 5, 1, L"The number of IP addresses has exceeded 255.\n\nNo more can be registered."},
      {CatalogueOwner::kTagsmith, 19, 1,
       L"An error occurred during communication with the printer.\n\nCheck that there is no error on the printer.\n"
       L"   The printer is not connected to the computer.\n   The printer is not switched on.\n"
       L"   The printer cover is open.\n   Out of paper.\n\nClear the error and turn the printer off and on again. "
       L"Then retry."},
  };
  for (const Case& c : cases) {
    const wchar_t* got = CatalogueText(c.owner, c.number, c.language);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::wstring(got), std::wstring(c.text)) << "message " << c.number << " language " << c.language;
  }
  // Message 13 keeps its two trailing blanks after each row of stars.
  std::wstring notice = CatalogueText(CatalogueOwner::kRomsmith, 13, 1);
  EXPECT_EQ(notice.substr(0, 47), std::wstring(44, L'*') + L"  \n");
  EXPECT_EQ(notice.substr(notice.size() - 46), std::wstring(44, L'*') + L"  ");
  // Any language index other than 0 is English.
  EXPECT_EQ(CatalogueText(CatalogueOwner::kRomsmith, 2, 7), std::wstring(L"No valid printers found."));
  EXPECT_EQ(std::wstring(MessageCaption(CatalogueOwner::kTagsmith)), L"Tagsmith");
  EXPECT_EQ(std::wstring(MessageCaption(CatalogueOwner::kRomsmith)), L"Romsmith");
}

TEST(MessageCatalogue, FormattingReplacesOnlyTheFirstPercentS) {
  struct Case {
    const wchar_t* format;
    const wchar_t* argument;
    size_t outChars;
    const wchar_t* expected;
  } cases[] = {
      {L"in use.\n\n%s", L"192.168.0.10", 64, L"in use.\n\n192.168.0.10"},
      {L"a %s b %s", L"x", 64, L"a x b %s"},
      {L"100% %d %s", L"%s%n", 64, L"100% %d %s%n"},
      {L"no argument", L"x", 64, L"no argument"},
      {L"%s", nullptr, 64, L""},
      {L"ab%s", L"cdef", 4, L"abc"},
      {L"abc", L"", 1, L""},
  };
  for (const Case& c : cases) {
    wchar_t out[80];
    std::wmemset(out, L'#', 80);
    FormatCatalogueText(c.format, c.argument, out, c.outChars);
    EXPECT_EQ(std::wstring(out), std::wstring(c.expected));
    for (size_t i = c.outChars; i < 80; ++i) ASSERT_EQ(out[i], L'#') << "written past the buffer";
  }
}

}  // namespace
