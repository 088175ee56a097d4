#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/printable_text.h"

namespace {

// What a printer, a network library or a hand edit may put in a name, and
// what is kept of it.
TEST(PrintableText, ControlAndFormatCharactersGo) {
  const struct {
    const char16_t* text;
    const char16_t* kept;
  } cases[] = {
      {u"KM-510", u"KM-510"},
      {u"KM\r\n[Printer]\r\nPrinter09=X", u"KM[Printer]Printer09=X"},
      {u"\t\x01\x1f\x7f\x80\x85\x9f" u"A", u"A"},
      {u"evil\u202egnp.exe", u"evilgnp.exe"},
      {u"a\u200bb\u2028c\u2029d\u2066e\u2069f\ufeff", u"abcdef"},
      {u"レシート\u00a0プリンタ", u"レシート\u00a0プリンタ"},
      {u"\U0001F5A8 pair kept", u"\U0001F5A8 pair kept"},
      {u"lone \xd800 high, lone \xdc00 low", u"lone  high, lone  low"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PrintableText(c.text), std::u16string(c.kept));
    std::wstring wide(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    std::wstring expected(c.kept, c.kept + std::char_traits<char16_t>::length(c.kept));
    // Surrogates are UTF-16 units; a native wide text holds whole code points.
    const bool surrogates = std::any_of(wide.begin(), wide.end(), [](wchar_t u) { return u >= 0xD800 && u <= 0xDFFF; });
    if (!surrogates) {
      KeepPrintable(&wide[0]);
      EXPECT_EQ(std::wstring(wide.c_str()), expected);
    }
  }
  char ansi[] = "KM\r\n-510\x7f\x1b[2J\x83\x65";
  KeepPrintableAnsi(ansi);
  EXPECT_STREQ(ansi, "KM-510[2J\x83\x65") << "code-page bytes stay for the wide copy to judge";
}

}  // namespace
