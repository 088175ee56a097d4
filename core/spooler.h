// Spooler port switching: around each printer exchange every local spooler
// printer on the selected port is moved to "FILE:" and afterwards put back,
// so that no driver talks to the printer at the same time.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <string>
#include <vector>

#include "printer_connection.h"

constexpr int kSpoolerPortChars = 260;
constexpr int kSpoolerNameChars = 262;

// PortReplace modes; the switch state holds the mode last carried out.
constexpr int32_t REPLACE_ON = 0;
constexpr int32_t REPLACE_OFF = 1;

struct SpoolerPrinterEntry {
  wchar_t portName[kSpoolerPortChars];     // the printer's own port list, "LPT1:" or "USB001"
  wchar_t printerName[kSpoolerNameChars];
  uint16_t switched;                       // 1 untouched, 0 moved to "FILE:" by us
};

// The snapshot of the spooler's printers taken at start-up and the switch
// state (1 at start: nothing switched).
struct SpoolerState {
  SpoolerPrinterEntry* entries;  // zero-filled global-heap block
  int32_t count;
  uint16_t switchState;
};

extern SpoolerState g_spooler;

// The spooler calls PortReplace makes, so that tests can stand in for the
// print spooler.
struct SpoolerApi {
  // Level 2 with the given PRINTER_ENUM_* flags.
  BOOL (*enumPrinters)(DWORD flags, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned);
  BOOL (*openPrinter)(const wchar_t* printerName, HANDLE* printer);  // PRINTER_ALL_ACCESS
  BOOL (*getPrinter)(HANDLE printer, BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes);  // level 2
  BOOL (*setPrinter)(HANDLE printer, PRINTER_INFO_2W* info);  // level 2, command 0
  BOOL (*closePrinter)(HANDLE printer);
  void* (*allocZeroed)(size_t bytes);  // global heap, zero-filled
  void (*freeBlock)(void* block);
  void (*pumpMessages)();
  // Level 1 (PORT_INFO_1W): the ports the spooler has, for checking the
  // port journal before a printer is put back.
  BOOL (*enumPorts)(BYTE* buffer, DWORD bufferBytes, DWORD* neededBytes, DWORD* returned);
};

const SpoolerApi& SystemSpoolerApi();
// The calls in use now (the system's or a test's).
const SpoolerApi& CurrentSpoolerApi();
// Replaces the calls used from now on; returns the previous set.
const SpoolerApi* SetSpoolerApi(const SpoolerApi* api);

// Takes a new snapshot of the spooler's printers (all marked untouched).
void RefreshSpoolerList();

// REPLACE_ON moves the printers on connection->portName to "FILE:";
// REPLACE_OFF puts back every printer moved earlier and ignores the
// connection (may be null). Returns 0 or a result code.
int32_t PortReplace(int32_t mode, const PrinterConnection* connection);

// Moves the printers on every one of `ports` to "FILE:" in one pass, with
// one look at the spooler's live ports: a run with several printers in
// flight takes all its ports before the first exchange, and one
// REPLACE_OFF at the end puts every printer back. (*results)[i] gets 0 or
// the result code of ports[i].
void PortReplaceList(const std::vector<std::wstring>& ports, std::vector<int32_t>* results);

// The printers that a give-back could not put back: still on "FILE:" and
// kept in the port journal for the next try.
std::vector<std::wstring> PrintersLeftOnFile();

// Frees the snapshot (at shutdown).
void FreeSpoolerList();
