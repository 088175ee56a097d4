// The firmware data file: which files each write mode accepts, and reading
// one whole into FirmwareData for SendPrinter.
#pragma once

#include <windows.h>

#include <cstdint>

#include "firmware_file_rules.h"
#include "printer_connection.h"
#include "settings_types.h"

// The firmware block: the file's bytes followed by 50 zero bytes that are
// never sent. SendPrinter frees it after the last printer.
extern CommandBuffer FirmwareData;

// What the file handling remembers between calls.
struct FirmwareFileState {
  wchar_t browseFolder[kPathChars];  // drive and folder of the last file whose extension passed
};
extern FirmwareFileState g_firmwareFile;

// Steps of CheckFirmwareFile.
enum FirmwareCheckStep : int {
  kCheckExtension = 9,        // 0 or -7
  kCheckExtensionOpen = 10,   // 0, -7 or -6
  kCheckSize = 11,            // 0 or -6 (-8 for a file beyond the 32-bit length, -9 for an empty one)
  kCheckRead = 12,            // 0, -8 or -6
};

// One step of the file check. `expectedExtension` (kExtensionChars, may be
// null) receives ".hex" or "." and the model's update extension. The write
// mode and the model come from g_settings; label 1022 and the Start writing
// button of g_program.mainWindow are updated when the window exists.
int32_t CheckFirmwareFile(int step, const wchar_t* path, wchar_t* expectedExtension, CommandBuffer* data);

// Checks, sizes and reads the file into `data` (a new block of length + 50
// zero bytes). Returns 0, -2 (empty path), -6, -7, -8, -9 (empty file) or
// -50. On any failure `data` holds no block from this call: a file that
// cannot be read whole is never handed on in part.
int32_t PrepareFirmware(const wchar_t* path, wchar_t* expectedExtension, CommandBuffer* data);
