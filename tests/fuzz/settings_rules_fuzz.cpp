// Feeds arbitrary text to every settings value rule and to a whole section
// listing: nothing may read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/settings_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes per character, as the profile functions hand out UTF-16.
  std::vector<wchar_t> text(size / 2 + 1, L'\0');
  for (size_t i = 0; i + 1 < size; i += 2) text[i / 2] = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  size_t chars = size / 2;

  // The raw listing, with whatever terminators it happens to hold.
  SettingsListing listing;
  int section = size > 0 ? data[0] % kSectionCount : 0;
  CollectSectionListing(section, text.data(), chars, &listing);
  SelectedModelIndex(listing);
  SelectedLanIndex(listing);

  // Every rule on the whole text as one value (terminated at chars).
  const wchar_t* value = text.data();
  ModelRecord model;
  ParseModelValue(value, L"None", &model);
  LanPrinterRecord lan;
  ParseLanValue(value, L"None", AsciiOnlyToAnsi, &lan);
  PortComIndex(value);
  IsValidPortLan(value);
  IsValidPrinterConnected(value);
  ReadDecimal(value);
  AsciiEqualNoCase(value, L"Enable");
  wchar_t field[8];
  CopyToField(field, 8, value);
  return 0;
}
