// The operator message catalogue: 25 numbered messages, each a Japanese and
// an English text picked by the language index, with the way each is shown.
// Platform-free so that the texts and the code mapping can be checked natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kMessageCount = 25;
constexpr int kMessageTextChars = 1032;  // a formatted message, terminator included

// Buttons and icon of the box; kNoBox shows nothing and answers Cancel (2).
enum class MessageButtons { kOkExclamation, kOkInformation, kOkCancelInformation, kNoBox };

// Where the box text comes from: the catalogue text as it stands, the
// caller's text (already formatted from the catalogue text by the caller), or
// the catalogue text with its one %s replaced by the caller's text.
enum class MessageTextSource { kCatalogueText, kCallerText, kFormattedText };

enum class CatalogueOwner { kRomsmith, kTagsmith };

struct CatalogueMessage {
  MessageButtons buttons;
  MessageTextSource source;
  const wchar_t* text[2];  // [0] Japanese, [1] English
};

// The message number a result code or message number stands for, or -1 when
// it has none (an unmapped negative code, or a number above 24).
int MessageNumberForCode(int32_t code);

// Entry `number` (0..24) of the program's catalogue; null outside that range.
const CatalogueMessage* FindCatalogueMessage(CatalogueOwner owner, int number);

// The text of message `number` in language `languageIndex` (0 Japanese, any
// other value English); callers of the caller-text messages format it
// themselves. Null for a number outside the catalogue.
const wchar_t* CatalogueText(CatalogueOwner owner, int number, int languageIndex);

// Box caption: the program title, the same in both languages.
const wchar_t* MessageCaption(CatalogueOwner owner);

// Copies `format` into `out` (outChars wide characters, terminator included)
// with its first "%s" replaced by `argument` (null counts as empty). Other
// characters, "%" included, are copied as they stand; the result is cut to
// fit and always terminated.
void FormatCatalogueText(const wchar_t* format, const wchar_t* argument, wchar_t* out, size_t outChars);
