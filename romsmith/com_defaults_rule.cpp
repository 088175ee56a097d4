#include "com_defaults_rule.h"

int32_t ComFlowControlFromPortsValue(const wchar_t* value) {
  if (value == nullptr) return 0;
  int field = 0;
  const wchar_t* start = value;
  for (const wchar_t* p = value;; ++p) {
    if (*p != L',' && *p != L'\0') continue;
    if (field == 4) return (p - start == 1 && *start == L'x') ? 1 : 0;
    if (*p == L'\0') return 0;
    ++field;
    start = p + 1;
  }
}
