// What Romsmith reads out of a firmware data file name and content: the
// extension rule of each write mode and the firmware header whose texts are
// shown under the file name. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kWriteModeRewriteAll = 0;
constexpr int kWriteModeUpdate = 1;
constexpr size_t kExtensionChars = 260;        // ".", the update extension (257) and terminator
constexpr uint32_t kHeaderScanThreshold = 512000;  // files up to this size hold no header we read
constexpr size_t kHeaderLabelBytes = 50;      // " %s %s" with terminator

// Drive and folder (with the trailing separator) and extension (with its
// dot, empty when none) of a path, split as _wsplitpath does.
struct FirmwarePathParts {
  std::wstring folder;
  std::wstring extension;
};
FirmwarePathParts SplitFirmwarePath(const wchar_t* path);

// ".hex" for Rewrite All; "." and the model's update extension for Update.
std::wstring ExpectedFirmwareExtension(int writeMode, const wchar_t* updateExtension);

// Compares without regard to ASCII case. In Update mode the last character
// of both is a wild card and dropped before comparing.
bool FirmwareExtensionMatches(int writeMode, const std::wstring& fileExtension, const std::wstring& expected);

// Looks for a firmware header at the even offsets below size - 32: "Ht1",
// 16-bit little-endian 1 at +12 and 0x24 at +14. On the first one found,
// fills `label` (kHeaderLabelBytes bytes) with " A B", A and B being the
// NUL-terminated texts at +32 and +48, cut to fit; texts never run past
// `size`. Returns false when there is no header.
bool FindFirmwareHeaderLabel(const uint8_t* data, size_t size, char* label);
