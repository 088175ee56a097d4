#include "firmware_file_rules.h"

#include <cstring>

#include "settings_rules.h"

FirmwarePathParts SplitFirmwarePath(const wchar_t* path) {
  FirmwarePathParts parts;
  std::wstring p = path != nullptr ? path : L"";
  size_t nameStart = p.find_last_of(L"\\/:");
  nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
  parts.folder = p.substr(0, nameStart);
  size_t dot = p.find_last_of(L'.');
  if (dot != std::wstring::npos && dot >= nameStart) parts.extension = p.substr(dot);
  return parts;
}

std::wstring ExpectedFirmwareExtension(int writeMode, const wchar_t* updateExtension) {
  if (writeMode != kWriteModeUpdate) return L".hex";
  std::wstring expected = L".";
  expected += updateExtension != nullptr ? updateExtension : L"";
  if (expected.size() > kExtensionChars - 1) expected.resize(kExtensionChars - 1);
  return expected;
}

bool FirmwareExtensionMatches(int writeMode, const std::wstring& fileExtension, const std::wstring& expected) {
  if (writeMode != kWriteModeUpdate) return AsciiEqualNoCase(fileExtension.c_str(), expected.c_str());
  if (fileExtension.empty() || expected.empty()) return false;
  std::wstring file = fileExtension.substr(0, fileExtension.size() - 1);
  std::wstring want = expected.substr(0, expected.size() - 1);
  return AsciiEqualNoCase(file.c_str(), want.c_str());
}

namespace {

// The text at `offset`, up to its NUL or the end of the data.
std::string TextAt(const uint8_t* data, size_t size, size_t offset) {
  std::string text;
  for (size_t i = offset; i < size && data[i] != 0; ++i) text += static_cast<char>(data[i]);
  return text;
}

}  // namespace

bool FindFirmwareHeaderLabel(const uint8_t* data, size_t size, char* label) {
  if (data == nullptr || size <= 32) return false;
  for (size_t at = 0; at < size - 32; at += 2) {
    const uint8_t* h = data + at;
    if (h[0] != 0x48 || h[1] != 0x74 || h[2] != 0x31) continue;
    if ((h[12] | (h[13] << 8)) != 1 || (h[14] | (h[15] << 8)) != 0x24) continue;
    std::string text = " " + TextAt(data, size, at + 32) + " " + TextAt(data, size, at + 48);
    size_t n = text.size() < kHeaderLabelBytes - 1 ? text.size() : kHeaderLabelBytes - 1;
    std::memcpy(label, text.data(), n);
    label[n] = '\0';
    return true;
  }
  return false;
}
