#include <gtest/gtest.h>

#include <string>

#include "core/printable_text.h"

namespace {

// What a printer, a network library or a hand edit may put in a name.
TEST(PrintableText, ControlAndFormatCharactersGo) {
  const struct {
    const char16_t* text;
    const char16_t* kept;
  } cases[] = {
      {u"KM\r\n[Printer]\r\nPrinter09=X", u"KM[Printer]Printer09=X"},
      {u"\t\x01\x1f\x7f\x80\x85\x9f" u"A", u"A"},
      {u"evil\u202egnp.exe\u200b\u2028\u2066\ufeff", u"evilgnp.exe"},
      {u"レシート\u00a0プリンタ \U0001F5A8", u"レシート\u00a0プリンタ \U0001F5A8"},
      {u"lone \xd800 high, lone \xdc00 low", u"lone  high, lone  low"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintableText(c.text), std::u16string(c.kept));
  wchar_t wide[] = L"KM\r\n-510\u202e";
  KeepPrintable(wide);
  EXPECT_EQ(std::wstring(wide), L"KM-510");
  char ansi[] = "KM\r\n-510\x7f\x1b[2J\x83\x65";
  KeepPrintableAnsi(ansi);
  EXPECT_STREQ(ansi, "KM-510[2J\x83\x65") << "code-page bytes stay for the wide copy to judge";
}

}  // namespace
