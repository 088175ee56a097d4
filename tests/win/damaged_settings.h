// Damaged settings files, the same on every run: cut short, in another
// encoding, with enormous lines, thousands of keys, repeated sections,
// binary bytes, more than 255 LAN entries.
#pragma once

#include <string>

namespace settings_damage {

// What a case is made of: the bytes of the file and what must hold beyond
// the common checks.
struct Case {
  int number = 0;
  const char* kind = "";
  std::string bytes;
  std::string ansiTwin;  // the same settings as ANSI text: must load the same
  int lanBoxes = -1;     // message 5 boxes expected, -1 when not predicted
};

// The kinds of damage by case number. Loads that read hundreds of keys one
// by one, or parse thousands, are slow under Wine: those kinds come once in
// a hundred cases.
constexpr int kKindCount = 8;
int KindOf(int number);
Case MakeCase(int number);

}  // namespace settings_damage
