// Resource and control IDs of Tagsmith. Plain defines so that the resource
// script and the C++ code share them.
#pragma once

#define IDD_TAGSMITH_MAIN 101
#define IDI_TAGSMITH 111

#define IDC_INFO_ICON 114
#define IDC_EXIT 533
#define IDC_GET_SERIAL 600
#define IDC_WRITE_SERIAL 601
#define IDC_GUIDE 1010
#define IDC_VERSION 1011
#define IDC_SERIAL_HEADING 1032
#define IDC_SERIAL_READ 1033
#define IDC_SERIAL_INPUT_LABEL 1034
#define IDC_SERIAL_SAMPLE 1035
#define IDC_SERIAL_INPUT 1036

// Sent by Tagsmith to Romsmith's main window when Tagsmith ends.
#define IDC_ROMSMITH_TAGSMITH_RETURN 1031
