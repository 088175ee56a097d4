// Tagsmith's operator texts: the window title and the control texts, each as
// a Japanese/English pair picked by the language index.
#pragma once

// The window title, the same in both languages; also how Romsmith and a
// second copy of Tagsmith find this window.
constexpr wchar_t kTagsmithTitle[] = L"Tagsmith";
// Romsmith's title, for the hand-over at exit.
constexpr wchar_t kRomsmithTitle[] = L"Romsmith";

struct ControlText {
  int controlId;
  const wchar_t* text[2];  // [0] Japanese, [1] English
};

extern const ControlText kTagsmithControlTexts[];
extern const int kTagsmithControlTextCount;
