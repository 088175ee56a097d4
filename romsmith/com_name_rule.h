// The rule that keeps the COM box's typed text a port name "COM" and a number
// without a leading zero. Platform-free so that it can be tested natively.
#pragma once

#include <string>

constexpr size_t kComNameMaxChars = 5;

// The box text after the operator's last keystroke, corrected: only the last
// character is examined. At positions 1 to 3 it must be the letter of "COM"
// at that place (a lower-case one is raised); at positions 4 and 5 a digit,
// and never "0" as the first digit. A character that breaks the rule is
// removed.
std::wstring ComNameAfterTyping(const std::wstring& text);
