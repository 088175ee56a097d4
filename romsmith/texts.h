// Romsmith's window texts: one table of Japanese/English pairs, picked by the
// settings' language index (0 Japanese, anything else English). The message
// boxes come from the core's catalogue.
#pragma once

// One text in both languages: [0] Japanese, [1] English.
struct TextPair {
  const wchar_t* text[2];
  const wchar_t* In(int languageIndex) const { return text[languageIndex == 0 ? 0 : 1]; }
};

// A control of the main window and the text it shows.
struct ControlText {
  int id;
  TextPair text;
};

extern const ControlText kMainControlTexts[];
extern const int kMainControlTextCount;

extern const wchar_t kProgramTitle[];  // the same in both languages
extern const wchar_t kTagsmithTitle[];

extern const TextPair kRewriteAllText;   // text 1010 in Rewrite All mode
extern const TextPair kUpdateText;       // text 1010 in Update mode
extern const TextPair kUsbNoteText;      // text 1055
extern const TextPair kLanNoteText;      // text 1074
extern const TextPair kLanColumnTitles[3];

// Start writing and the progress dialog.
extern const TextPair kLanPortConfirm;   // the port line of the confirmation on LAN
extern const TextPair kLanNotice;        // the notice line of the confirmation on LAN
extern const TextPair kPreparingText;
extern const TextPair kLanPreparingFormat;  // "%ls\n\nLAN Port : %ls"
extern const TextPair kPowerLampText;
extern const TextPair kWritingDoneText;
extern const TextPair kSearchingText;
