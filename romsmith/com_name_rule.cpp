#include "com_name_rule.h"

std::wstring ComNameAfterTyping(const std::wstring& text) {
  std::wstring result = text;
  size_t length = result.size();
  if (length == 0) return result;
  wchar_t last = result[length - 1];
  if (length <= 3) {
    wchar_t wanted = L"COM"[length - 1];
    if (last == wanted + (L'a' - L'A')) {
      result[length - 1] = wanted;
    } else if (last != wanted) {
      result.pop_back();
    }
  } else if (length <= kComNameMaxChars) {
    bool digit = last >= L'0' && last <= L'9';
    if (!digit || (length == 4 && last == L'0')) result.pop_back();
  }
  return result;
}
