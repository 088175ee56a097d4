#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/message_catalog.h"
#include "core/program_state.h"
#include "core/result_message.h"
#include "core/settings_types.h"
#include "tests/win/message_box_driver.h"

namespace {

class ResultMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_program.kind = ProgramKind::Romsmith;
    g_settings.languageIndex = 1;
  }
  void TearDown() override {
    g_program.kind = ProgramKind::Romsmith;
    g_settings.languageIndex = 1;
  }
};

struct BoxCase {
  ProgramKind kind;
  int language;
  int32_t code;
  const wchar_t* callerText;
  int press;
  const wchar_t* caption;
  const wchar_t* expectedText;
  bool cancelShown;
  LPCWSTR icon;
};

TEST_F(ResultMessageTest, BoxesShowTextButtonsIconAndCaption) {
  const BoxCase cases[] = {
      // A communication failure shows message 19 with OK only.
      {ProgramKind::Romsmith, 1, -34, nullptr, IDOK, L"Romsmith",
       CatalogueText(CatalogueOwner::kRomsmith, 19, 1), false, IDI_EXCLAMATION},
      // Confirmations carry OK and Cancel; Cancel answers 2.
      {ProgramKind::Romsmith, 1, 8, nullptr, IDCANCEL, L"Romsmith",
       L"This will reset the printer. Are you sure?\nCheck that the printer is connected and then click [OK].", true,
       IDI_INFORMATION},
      {ProgramKind::Romsmith, 0, 10, nullptr, IDOK, L"Romsmith",
       L"\u30d7\u30ea\u30f3\u30bf\u304b\u3089\u30d5\u30a1\u30fc\u30e0\u30a6\u30a7\u30a2\u306e\u30d0\u30fc\u30b8\u30e7"
       L"\u30f3\u3092\u53d6\u5f97\u3057\u307e\u3059\u3002\u3088\u308d\u3057\u3044\u3067\u3059\u304b\uff1f\n\u30d7"
       L"\u30ea\u30f3\u30bf\u304c\u63a5\u7d9a\u3055\u308c\u3066\u3044\u308b\u3053\u3068\u3092\u78ba\u8a8d\u3057\u3001"
       L"[OK]\u3092\u30af\u30ea\u30c3\u30af\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
       true, IDI_INFORMATION},
      // The address goes into message 4 after an empty line.
      {ProgramKind::Romsmith, 1, 4, L"192.168.0.10", IDOK, L"Romsmith",
       L"That IP address is already in use.\n\n192.168.0.10", false, IDI_EXCLAMATION},
      // File errors carry the path.
      {ProgramKind::Romsmith, 1, -7, L"C:\\fw\\a.bin", IDOK, L"Romsmith",
       L"A different extension is used.\nCheck the \"C:\\fw\\a.bin\"file.", false, IDI_EXCLAMATION},
      // The caller formats message 6 itself; its text is shown as given.
      {ProgramKind::Romsmith, 1, 6, L"caller's own text", IDOK, L"Romsmith", L"caller's own text", true,
       IDI_INFORMATION},
      {ProgramKind::Romsmith, 1, 13, nullptr, IDOK, L"Romsmith",
       CatalogueText(CatalogueOwner::kRomsmith, 13, 1), false, IDI_INFORMATION},
      // The serial-number tool has its own caption and its own message 19.
      {ProgramKind::Tagsmith, 1, -21, nullptr, IDOK, L"Tagsmith",
       CatalogueText(CatalogueOwner::kTagsmith, 19, 1), false, IDI_EXCLAMATION},
      {ProgramKind::Tagsmith, 0, 14, nullptr, IDOK, L"Tagsmith",
       L"\u30b7\u30ea\u30a2\u30ebNo.\u66f8\u8fbc\u307f\u306b\u6210\u529f\u3057\u307e\u3057\u305f\u3002", false,
       IDI_INFORMATION},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " language " << c.language);
    g_program.kind = c.kind;
    g_settings.languageIndex = c.language;
    MessageBoxDriver driver(c.caption, c.press);
    int answer = ShowResultMessage(nullptr, c.code, c.callerText);
    const SeenBox& seen = driver.Finish();
    ASSERT_TRUE(seen.found) << "no box titled " << testing::PrintToString(std::wstring(c.caption));
    EXPECT_EQ(answer, c.press) << "answer";
    EXPECT_EQ(seen.text, std::wstring(c.expectedText));
    EXPECT_TRUE(seen.okButton) << "OK button";
    EXPECT_EQ(seen.cancelButton, c.cancelShown) << "Cancel button";
    EXPECT_EQ(seen.icon, LoadIconW(nullptr, c.icon)) << "icon";
  }
}

TEST_F(ResultMessageTest, CodesWithoutMessageShowNothingAndAnswerCancel) {
  const int32_t codes[] = {1, 7, 22, -50, -60, -61, -62, -2, -5, -10, 25, 1000, -1000, INT32_MIN};
  for (int32_t code : codes) {
    DWORD before = GetTickCount();
    EXPECT_EQ(ShowResultMessage(nullptr, code, L"x"), 2) << "code " << code;
    // No box: the call must return at once, not wait for an answer.
    EXPECT_LT(GetTickCount() - before, 2000u) << "code " << code;
    EXPECT_EQ(FindWindowW(L"#32770", L"Romsmith"), nullptr) << "code " << code;
  }
}

TEST_F(ResultMessageTest, OwnerWindowOwnsTheBox) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  MessageBoxDriver driver(L"Romsmith", IDOK);
  EXPECT_EQ(ShowResultMessage(owner, 2, nullptr), 1);
  const SeenBox& seen = driver.Finish();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.owner, owner);
  EXPECT_EQ(seen.text, L"No valid printers found.");
  DestroyWindow(owner);
}

TEST_F(ResultMessageTest, LongArgumentIsCutToTheTextBuffer) {
  std::wstring path(3000, L'a');
  MessageBoxDriver driver(L"Romsmith", IDOK);
  EXPECT_EQ(ShowResultMessage(nullptr, -6, path.c_str()), 1);
  const SeenBox& seen = driver.Finish();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text.size(), static_cast<size_t>(kMessageTextChars - 1));
  EXPECT_EQ(seen.text.substr(0, 35), L"Cannot find the file.\nCheck the \"aa");
}

}  // namespace
