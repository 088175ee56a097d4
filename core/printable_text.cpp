#include "printable_text.h"

namespace {

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Keeps the printable units of [text, text + length) and returns how many.
template <typename Unit>
size_t Compact(Unit* text, size_t length) {
  size_t kept = 0;
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<char32_t>(text[i]);
    if (sizeof(Unit) == 2 && IsHighSurrogate(c)) {
      if (i + 1 < length && IsLowSurrogate(static_cast<char32_t>(text[i + 1]))) {
        text[kept++] = text[i];
        text[kept++] = text[++i];
      }
      continue;
    }
    if (IsPrintableUnit(c)) text[kept++] = text[i];
  }
  return kept;
}

}  // namespace

bool IsPrintableUnit(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  if (c >= 0x200B && c <= 0x200F) return false;  // zero-width and direction marks
  if (c >= 0x2028 && c <= 0x202E) return false;  // separators and embeddings
  if (c >= 0x2060 && c <= 0x206F) return false;  // isolates and invisible operators
  if (c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB)) return false;
  if (IsHighSurrogate(c) || IsLowSurrogate(c)) return false;
  return c <= 0x10FFFF;
}

void KeepPrintable(wchar_t* text) {
  if (text == nullptr) return;
  size_t length = 0;
  while (text[length] != L'\0') ++length;
  text[Compact(text, length)] = L'\0';
}

std::u16string PrintableText(const std::u16string& text) {
  std::u16string copy = text;
  copy.resize(Compact(&copy[0], copy.size()));
  return copy;
}

void KeepPrintableAnsi(char* text) {
  if (text == nullptr) return;
  size_t kept = 0;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte != 0x7F) text[kept++] = text[i];
  }
  text[kept] = '\0';
}
