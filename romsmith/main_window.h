// Romsmith's main window: the record of its state and the routines that the
// window, its operations, the progress dialog and the LAN list share.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "printer_connection.h"
#include "settings_types.h"

// Purposes of FillConnection.
constexpr int kFillForConfirmation = 0;
constexpr int kFillForSend = 1;
constexpr int kFillForSpooler = 2;

// Port kinds that match no radio, so that the next click takes its
// "changed" path.
constexpr int32_t kKindNone = 4;
constexpr int32_t kKindRedo = 5;

struct MainWindowState {
  int32_t ready;         // 0 while CreateMainWindow runs; the mode and list handlers wait for 1
  int32_t usbAllowed;    // 0 when the model's USB id text is "Disable"
  int32_t lptAllowed;    // the model's LPT flag
  int32_t operationRunning;  // 1 from a confirmed operation until its printer work ends
  int32_t exitRequested;     // Exit or close arrived while an operation ran: carried out at its end
  int32_t exitCode;          // what an unattended run ends with (exit_codes.h)
  int32_t lanNotifications;  // 0 while the program itself changes the list view
  HIMAGELIST columnImages;   // sort marks of the list header
  LanPrinterRecord* searchResults;  // kLanListRecords records, filled by the printer search
};
extern MainWindowState g_mainWindow;

bool CreateMainWindow(int showCommand);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Enables the buttons by the port and the file name; returns the file-name
// status: 0 usable, -2 empty, -3 no name part, -4 no extension, -5 extension
// not 4 characters long.
int32_t UpdateButtons();
void RefreshUsbPorts();
const wchar_t* FillConnection(int purpose, PrinterConnection* connection);

// The model the settings select (a default record before the table exists).
const ModelRecord& CurrentModel();
HWND MainControl(int id);
void ShowControl(int id, bool shown);
void EnableControl(int id, bool enabled);
// Posts Exit in a run started with a command line, after setting its code.
void EndUnattendedRun(int exitCode);
// Carries out an Exit that arrived while an operation ran.
void FinishOperation();

// The catalogue text with its "%s" places filled in order; every argument is
// copied as it stands, so a "%s" inside a file name or model stays text.
std::wstring FillPlaces(const wchar_t* format, const wchar_t* const* arguments, int count);

// Operations (operations_win.cpp).
void OnPrinterCommand(int commandId);  // 520, 521, 530
void OnStartWriting();

// LAN printer list (lan_list_win.cpp).
void InitLanList();
void ShowPrinterList(int32_t n);
void SelectLanRow(int32_t row);
// Sorts the listed records by a column's text (direction 0 ascending, 1
// descending), rewrites the rows and moves the header mark to that column.
void SortPrinterList(HWND list, int column, uint16_t direction);
void OnLanCommand(int commandId);  // 511, 512, 513
LRESULT OnLanListNotify(NMHDR* header);
void FreeLanListResources();
