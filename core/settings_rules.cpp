#include "settings_rules.h"

#include "printable_text.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

const wchar_t* const kSectionNames[kSectionCount] = {L"File", L"Language", L"Send", L"Port", L"Printer", L"IPAddress"};

const BuiltInKey kBuiltInKeys[kBuiltInKeyCount] = {
    {L"File", L"Type", L"PowerOn"},          {L"Language", L"Country", L"English"},
    {L"Send", L"Filename", L"None"},         {L"Port", L"Connected", L"None"},
    {L"Port", L"PortUSB", L"None"},          {L"Port", L"PortCOM", L"COM1"},
    {L"Port", L"PortLPT", L"LPT1"},          {L"Port", L"PortLAN", L"None"},
    {L"Printer", L"Connected", L"Printer01"},
};

const BuiltInModel kBuiltInModels[kBuiltInModelCount] = {
    {L"Printer01", L"KM-510", L"fe5a/0a01/", L"Enable", L"hx*"},
    {L"Printer02", L"KM-1000", L"fe5a/0a02/", L"Disable", L"hx*"},
    {L"Printer03", L"KM-32L", L"fe5a/0a03/", L"Enable", L"hx*"},
    {L"Printer04", L"KM-460", L"fe5a/0a01/", L"Enable", L"hx*"},
    {L"Printer05", L"KM-360", L"fe5a/0a01/", L"Enable", L"hx*"},
    {L"Printer06", L"KT-220", L"fe5a/0a02/", L"Disable", L"hx*"},
    {L"Printer07", L"LX7400", L"", L"Enable", L"Disable"},
    {L"Printer08", L"LX7600", L"", L"Enable", L"Disable"},
};

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

size_t TextLength(const wchar_t* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (text[n] != L'\0') ++n;
  }
  return n;
}

}  // namespace

bool AsciiEqualNoCase(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr) a = L"";
  if (b == nullptr) b = L"";
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (FoldAscii(*a) != FoldAscii(*b)) return false;
  }
  return *a == *b;
}

bool AsciiStartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
  if (text == nullptr) text = L"";
  for (; *prefix != L'\0'; ++prefix, ++text) {
    if (*text == L'\0' || FoldAscii(*text) != FoldAscii(*prefix)) return false;
  }
  return true;
}

int LookupNoCase(const wchar_t* text, const wchar_t* const* list, int count) {
  for (int i = 0; i < count; ++i) {
    if (AsciiEqualNoCase(text, list[i])) return i;
  }
  return -1;
}

int32_t ReadDecimal(const wchar_t* text) {
  if (text == nullptr) return 0;
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
  int64_t value = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    if (value <= static_cast<int64_t>(INT32_MAX) + 1) value = value * 10 + (*text - L'0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool CheckedTableBytes(size_t count, size_t recordBytes, size_t* bytes) {
  if (recordBytes != 0 && count > SIZE_MAX / recordBytes) return false;
  *bytes = count * recordBytes;
  return true;
}

void CopyToField(wchar_t* field, size_t fieldChars, const wchar_t* src) {
  if (field == nullptr || fieldChars == 0) return;
  size_t n = TextLength(src);
  if (n > fieldChars - 1) n = fieldChars - 1;
  if (n > 0) std::memcpy(field, src, n * sizeof(wchar_t));
  field[n] = L'\0';
}

std::vector<std::wstring> SplitCommaTokens(const wchar_t* value) {
  std::vector<std::wstring> tokens;
  if (value == nullptr) return tokens;
  const wchar_t* p = value;
  while (*p != L'\0') {
    while (*p == L',') ++p;
    const wchar_t* start = p;
    while (*p != L'\0' && *p != L',') ++p;
    if (p > start) tokens.emplace_back(start, p);
  }
  return tokens;
}

void ParseModelValue(const wchar_t* value, const wchar_t* noneWord, ModelRecord* record) {
  std::vector<std::wstring> t = SplitCommaTokens(value);
  auto field = [&](size_t i) { return i < t.size() ? t[i].c_str() : noneWord; };
  CopyToField(record->modelName, sizeof(record->modelName) / sizeof(wchar_t), field(0));
  KeepPrintable(record->modelName);
  CopyToField(record->usbIdText, sizeof(record->usbIdText) / sizeof(wchar_t), field(1));
  record->lptEnabled = (t.size() > 2 && AsciiEqualNoCase(t[2].c_str(), L"Enable")) ? 1 : 0;
  CopyToField(record->updateExtension, sizeof(record->updateExtension) / sizeof(wchar_t), field(3));
}

void AsciiOnlyToAnsi(const wchar_t* text, char* out, size_t outBytes) {
  if (out == nullptr || outBytes == 0) return;
  size_t n = 0;
  for (; text != nullptr && text[n] != L'\0' && n + 1 < outBytes; ++n) {
    out[n] = (text[n] > 0 && text[n] < 0x80) ? static_cast<char>(text[n]) : '?';
  }
  out[n] = '\0';
}

void ParseLanValue(const wchar_t* value, const wchar_t* noneWord, AnsiConverter toAnsi, LanPrinterRecord* record) {
  std::vector<std::wstring> t = SplitCommaTokens(value);
  auto field = [&](size_t i) { return i < t.size() ? t[i].c_str() : noneWord; };
  auto noneToEmpty = [&](const wchar_t* text) { return AsciiEqualNoCase(text, noneWord) ? L"" : text; };
  int32_t slot = ReadDecimal(field(0));
  // The slot indexes the two library bindings; a hand-edited number outside
  // them must not reach that array.
  record->librarySlot = (slot == 0 || slot == 1) ? slot : 1;
  CopyToField(record->modelNameW, sizeof(record->modelNameW) / sizeof(wchar_t), field(1));
  CopyToField(record->ipAddressW, sizeof(record->ipAddressW) / sizeof(wchar_t), field(2));
  CopyToField(record->macAddressW, sizeof(record->macAddressW) / sizeof(wchar_t), noneToEmpty(field(3)));
  CopyToField(record->deviceIdW, sizeof(record->deviceIdW) / sizeof(wchar_t), noneToEmpty(field(4)));
  // Saved back into the file and shown in the list.
  KeepPrintable(record->modelNameW);
  KeepPrintable(record->ipAddressW);
  KeepPrintable(record->macAddressW);
  if (toAnsi == nullptr) toAnsi = AsciiOnlyToAnsi;
  toAnsi(record->modelNameW, record->modelName, sizeof(record->modelName));
  toAnsi(record->ipAddressW, record->ipAddress, sizeof(record->ipAddress));
  toAnsi(record->macAddressW, record->macAddress, sizeof(record->macAddress));
  toAnsi(record->deviceIdW, record->deviceId, sizeof(record->deviceId));
}

int PortComIndex(const wchar_t* text) {
  static const wchar_t* const kNames[] = {L"COM1", L"COM2", L"COM3", L"COM4"};
  int index = LookupNoCase(text, kNames, 4);
  if (index >= 0) return index;
  if (AsciiStartsWithNoCase(text, L"COM") && ReadDecimal(text + 3) != 0) return 4;
  return -1;
}

bool IsValidPortLan(const wchar_t* text) {
  if (!AsciiStartsWithNoCase(text, L"Port") || TextLength(text) != 7) return false;
  int32_t n = ReadDecimal(text + 4);
  return n >= 1 && n <= 255;
}

bool IsValidPrinterConnected(const wchar_t* text) {
  if (!AsciiStartsWithNoCase(text, L"Printer") || TextLength(text) != 9) return false;
  int32_t n = ReadDecimal(text + 7);
  return n >= 1 && n <= 99;
}

int32_t LanParallelValue(const wchar_t* text) {
  if (text == nullptr) return 1;
  const int32_t n = ReadDecimal(text);
  if (n < 1) return 1;
  return n > kMaxLanParallel ? kMaxLanParallel : n;
}

void SplitListingLine(int section, const wchar_t* line, size_t length, std::vector<SettingsRow>* rows) {
  size_t p = 0;
  while (true) {
    while (p < length && line[p] == L'=') ++p;
    size_t keyStart = p;
    while (p < length && line[p] != L'=') ++p;
    SettingsRow row{section, std::wstring(line + keyStart, line + p), std::wstring()};
    bool more = false;
    if (p < length) {  // at the first "="
      size_t valueStart = ++p;
      while (p < length && line[p] != L'=') ++p;
      row.value.assign(line + valueStart, line + p);
      if (p < length) {  // a second "=": what follows is read as a line of its own
        ++p;
        more = p < length;
      }
    }
    rows->push_back(std::move(row));
    if (!more) break;
  }
}

void CollectSectionListing(int section, const wchar_t* buffer, size_t chars, SettingsListing* listing) {
  if (buffer == nullptr) return;
  std::vector<size_t> dropped;
  size_t p = 0;
  while (p < chars && buffer[p] != L'\0') {
    size_t start = p;
    while (p < chars && buffer[p] != L'\0') ++p;
    size_t first = listing->rows.size();
    SplitListingLine(section, buffer + start, p - start, &listing->rows);
    ++p;  // past the line's NUL
    for (size_t i = first; i < listing->rows.size(); ++i) {
      SettingsRow& row = listing->rows[i];
      const wchar_t* key = row.key.c_str();
      const wchar_t* none = NoneWord(listing->languageIndex);
      if (section == kSectionLanguage && AsciiEqualNoCase(key, L"Country")) {
        static const wchar_t* const kLanguages[] = {L"Japan", L"English"};
        int index = LookupNoCase(row.value.c_str(), kLanguages, 2);
        if (index >= 0) listing->languageIndex = index;
      } else if (section == kSectionPort) {
        if (row.value.empty()) {
          if (AsciiEqualNoCase(key, L"PortUSB") || AsciiEqualNoCase(key, L"PortLAN")) row.value = none;
          if (AsciiEqualNoCase(key, L"PortCOM")) row.value = L"COM1";
          if (AsciiEqualNoCase(key, L"PortLPT")) row.value = L"LPT1";
        }
        if (AsciiEqualNoCase(key, L"PortLAN")) listing->portLan = row.value;
      } else if (section == kSectionPrinter) {
        if (AsciiEqualNoCase(key, L"Connected")) {
          if (row.value.empty()) row.value = none;
          listing->printerConnected = row.value;
        } else if (listing->modelRows.size() < kMaxModelRows) {
          listing->modelRows.push_back(i);
        } else {
          dropped.push_back(i);
        }
      } else if (section == kSectionIpAddress) {
        if (listing->lanRows.size() < kMaxLanRows) {
          listing->lanRows.push_back(i);
        } else {
          const std::vector<std::wstring> t = SplitCommaTokens(row.value.c_str());
          if (t.size() > 2 && !AsciiEqualNoCase(t[2].c_str(), none)) listing->moreLanEntries = true;
          dropped.push_back(i);
        }
      }
    }
    // Rows beyond the caps are not kept: a file of millions of them must
    // neither size a table nor fill the memory.
    for (auto it = dropped.rbegin(); it != dropped.rend(); ++it) {
      listing->rows.erase(listing->rows.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    dropped.clear();
  }
}

int SelectedModelIndex(const SettingsListing& listing) {
  for (size_t i = 0; i < listing.modelRows.size(); ++i) {
    if (AsciiEqualNoCase(listing.rows[listing.modelRows[i]].key.c_str(), listing.printerConnected.c_str())) {
      return static_cast<int>(i);
    }
  }
  return 0;
}

int SelectedLanIndex(const SettingsListing& listing) {
  for (size_t i = 0; i < listing.lanRows.size(); ++i) {
    if (AsciiEqualNoCase(listing.rows[listing.lanRows[i]].key.c_str(), listing.portLan.c_str())) {
      return static_cast<int>(i);
    }
  }
  return 0;
}
