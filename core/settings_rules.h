// The value rules of the settings file: how single keys are validated, how
// model and LAN entries are cut into fields, and how a section listing is
// split into rows. Platform-free; the profile calls live in settings_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings_types.h"

// Section order of the listing; also the index of a row's section.
enum SettingsSection : int { kSectionFile, kSectionLanguage, kSectionSend, kSectionPort, kSectionPrinter,
                             kSectionIpAddress, kSectionCount };
extern const wchar_t* const kSectionNames[kSectionCount];

// ASCII letters folded; every other character must match exactly. Null is
// the empty text.
bool AsciiEqualNoCase(const wchar_t* a, const wchar_t* b);
bool AsciiStartsWithNoCase(const wchar_t* text, const wchar_t* prefix);

// Position of `text` in `list` (compared without regard to ASCII case), or -1.
int LookupNoCase(const wchar_t* text, const wchar_t* const* list, int count);

// A decimal integer as the settings read it: leading blanks and one sign
// allowed, reading stops at the first other character; no digits give 0.
// Values beyond 32 bits saturate.
int32_t ReadDecimal(const wchar_t* text);

// `count` records of `recordBytes` bytes each; false when the product does
// not fit in a size_t (a 32-bit build wraps near 2^32 / 1088 model rows).
bool CheckedTableBytes(size_t count, size_t recordBytes, size_t* bytes);

// The most model and LAN entries a listing takes: the keys that "Printer"
// "Connected" and "PortLAN" can name. Rows beyond them are dropped as they
// are read, before any table is sized from the counts.
constexpr size_t kMaxModelRows = 99;
constexpr size_t kMaxLanRows = 255;

// Copies `src` into a field of `fieldChars` wide characters (terminator
// included), cut to fit. Nothing is written past the field.
void CopyToField(wchar_t* field, size_t fieldChars, const wchar_t* src);

// Splits at commas; a run of commas is one separator, so empty fields vanish
// and leading or trailing commas have no effect.
std::vector<std::wstring> SplitCommaTokens(const wchar_t* value);

// "name,usb id,Enable|Disable,extension". Missing fields take `noneWord`
// (LPT: 0); longer fields are cut to the record's fields.
void ParseModelValue(const wchar_t* value, const wchar_t* noneWord, ModelRecord* record);

// Converts a wide text into an ANSI field of `outBytes` bytes (terminator
// included), cut to fit.
using AnsiConverter = void (*)(const wchar_t* text, char* out, size_t outBytes);
// Portable stand-in: ASCII kept, every other character becomes '?'.
void AsciiOnlyToAnsi(const wchar_t* text, char* out, size_t outBytes);

// "slot,model,ip,mac[,device id]". Missing fields take `noneWord`; a MAC
// address or device ID equal to the None word becomes empty. A slot other
// than 0 or 1 names no library and is taken as 1. Wide fields are cut to their
// width and the ANSI copies made with `toAnsi`.
void ParseLanValue(const wchar_t* value, const wchar_t* noneWord, AnsiConverter toAnsi, LanPrinterRecord* record);

// [Port] PortCOM. Returns the COM index: 0..3 for "COM1".."COM4", 4 for any
// other "COM" name whose number is not 0, -1 for a text to be replaced by
// the default.
int PortComIndex(const wchar_t* text);
// [Port] PortLAN: "Port" and three characters giving 1..255.
bool IsValidPortLan(const wchar_t* text);
// [Printer] Connected: "Printer" and two characters giving 1..99.
bool IsValidPrinterConnected(const wchar_t* text);

// [LAN_SEND] Parallel: how many LAN printers a write serves at once. Null
// (no key), no digits, 0 or less give 1, today's one-after-another run;
// more than kMaxLanParallel gives kMaxLanParallel.
constexpr int32_t kMaxLanParallel = 64;
int32_t LanParallelValue(const wchar_t* text);

// One line of a section listing.
struct SettingsRow {
  int section;
  std::wstring key;
  std::wstring value;
};

// Splits one line into rows. The key runs to the first "=" (leading "="
// skipped), the value from there to the next "=" or the end; text behind a
// second "=" is read as a further line.
void SplitListingLine(int section, const wchar_t* line, size_t length, std::vector<SettingsRow>* rows);

// What the listing of all sections gives before the single keys are read.
struct SettingsListing {
  std::vector<SettingsRow> rows;
  int languageIndex = 1;         // from [Language] Country when it names one
  std::vector<size_t> modelRows; // rows of [Printer] other than Connected, file order
  std::vector<size_t> lanRows;   // rows of [IPAddress], file order
  // True when [IPAddress] holds an entry with an address beyond kMaxLanRows:
  // the operator is told that no more can be registered.
  bool moreLanEntries = false;
  std::wstring printerConnected; // value of [Printer] Connected ("" when absent)
  std::wstring portLan;          // value of [Port] PortLAN ("" when absent)
};

// Adds the lines of one section's listing: NUL-separated lines ending with
// an empty line, or at `chars`, whichever comes first. Empty [Port] and
// [Printer] Connected values take their defaults as the rows are collected.
// At most kMaxModelRows model rows and kMaxLanRows LAN rows are kept.
void CollectSectionListing(int section, const wchar_t* buffer, size_t chars, SettingsListing* listing);

// Position among the model entries of the first whose key equals [Printer]
// Connected, 0 when none does.
int SelectedModelIndex(const SettingsListing& listing);
// Position among the LAN entries of the first whose key equals [Port]
// PortLAN, 0 when none does.
int SelectedLanIndex(const SettingsListing& listing);

// One row of the model table that a new settings file receives.
struct BuiltInModel {
  const wchar_t* key;
  const wchar_t* model;
  const wchar_t* usbIdText;
  const wchar_t* lptFlag;
  const wchar_t* updateExtension;
};
constexpr int kBuiltInModelCount = 8;
extern const BuiltInModel kBuiltInModels[kBuiltInModelCount];

// A single key with the value a new file receives.
struct BuiltInKey {
  const wchar_t* section;
  const wchar_t* key;
  const wchar_t* creationValue;
};
constexpr int kBuiltInKeyCount = 9;
extern const BuiltInKey kBuiltInKeys[kBuiltInKeyCount];
