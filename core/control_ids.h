// Control IDs of Romsmith's main window that the core writes to or reads
// from. Plain defines so that resource scripts can include the same names.
#pragma once

#define IDC_START_WRITING 532
#define IDC_FILE_NAME 1021        // firmware data box
#define IDC_FIRMWARE_HEADER 1022  // header text under the file name
#define IDC_USB_PORT 1052
#define IDC_COM_PORT 1053
#define IDC_LPT_PORT 1054
