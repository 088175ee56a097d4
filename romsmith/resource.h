// Resource and control IDs of Romsmith. Included by romsmith.rc and by the
// C++ sources, so every number has one name.
#pragma once

#include "control_ids.h"  // the IDs that the core writes to as well

#define IDD_MAIN 100
#define IDD_PROGRESS 104
#define IDI_ROMSMITH 110
#define IDB_SORT_MARKS 116

// Main window buttons.
#define IDC_BROWSE 500
#define IDC_REFRESH 510
#define IDC_LAN_ADD 511
#define IDC_LAN_SEARCH 512
#define IDC_LAN_DELETE 513
#define IDC_GET_VERSION 520
#define IDC_PRINT_VERSION 521
#define IDC_RESET_PRINTER 530
#define IDC_START_TAGSMITH 531
#define IDC_EXIT 533
// Sent by Tagsmith when it ends: focus the button that starts it.
#define IDC_TAGSMITH_ENDED 1031

// Main window controls.
#define IDC_INFO_ICON 114
#define IDC_FIRMWARE_GROUP 1000
#define IDC_MODE_GROUP 1001
#define IDC_MODE_REWRITE_ALL 1002
#define IDC_MODE_UPDATE 1003
#define IDC_MODE_TEXT 1010
#define IDC_VERSION_LABEL 1011
#define IDC_FILE_LABEL 1020
#define IDC_STATUS_TEXT 1023
#define IDC_VERSION_GROUP 1030
#define IDC_VERSION_RESULT 1031
#define IDC_KIND_USB 1041
#define IDC_KIND_COM 1042
#define IDC_KIND_LPT 1043
#define IDC_KIND_LAN 1044
#define IDC_PORT_GROUP 1050
#define IDC_PORT_LABEL 1051
#define IDC_USB_NOTE 1055
#define IDC_BAUD_LABEL 1060
#define IDC_FORMAT_LABEL 1061
#define IDC_PROTOCOL_LABEL 1062
#define IDC_BAUD_LIST 1063
#define IDC_PROTOCOL_LIST 1064
#define IDC_FORMAT_LIST 1065
#define IDC_IP_LABEL 1070
#define IDC_IP_ADDRESS 1071
#define IDC_LAN_LIST_LABEL 1072
#define IDC_LAN_LIST 1073
#define IDC_LAN_NOTE 1074

// Progress dialog controls (114 is its icon too).
#define IDC_PROGRESS_OK 700
#define IDC_PROGRESS_MESSAGE 1100
#define IDC_PROGRESS_BYTES 1101
#define IDC_PROGRESS_BAR 1102
#define IDC_PROGRESS_ZERO 1103
#define IDC_PROGRESS_HUNDRED 1104
#define IDC_PROGRESS_WAIT_LINE 1105
#define IDC_PROGRESS_CLOSING 1106
#define IDC_PROGRESS_LIST 1107  // made at run time when several printers are written at once
