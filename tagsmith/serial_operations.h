// Tagsmith's printer work: which port the settings name, and the two
// operations on it (read the serial number, write one and read it back).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "printer_connection.h"

// What a connection is filled for.
constexpr int kPurposeSend = 1;     // the port SendPrinter opens
constexpr int kPurposeSpooler = 2;  // the port name PortReplace switches

// Rebuilds the USB printer list for the selected model and keeps the
// selected entry inside it. Runs before every printer operation.
void RefreshUsbSelection();

// Selects the USB entry whose label is the settings' "PortUSB" text, or
// entry 0 when none is.
void SelectSavedUsbPrinter();

// Fills the connection for the port kind of the settings. For LAN it also
// chooses the network library slot (g_program.netSlot).
void FillConnection(int purpose, PrinterConnection* connection);

// The library slot for a LAN printer found through `namedSlot`: that slot
// when its library is loaded, otherwise the other one.
int32_t LanSlotFor(int32_t namedSlot);

// True on LAN when there is no printer to talk to: the list is empty, or the
// entry saved as selected was dropped at load. Tagsmith shows no port, so it
// must not fall back to another printer of the list, nor to an empty
// address (which reaches this computer).
bool SelectedPrinterMissing();

// Reads the printer's serial number into SerialNumberText. 0 or a result code.
int32_t ReadPrinterSerial();

// What a serial-number write found out on the way, for its record.
struct SerialWriteFacts {
  bool beforeRead = false;       // the number this printer held, read just before the write
  std::wstring before;
  bool readBackMatched = false;  // the read-back alone, whatever the give-back did
};

// Reads the printer's number, writes `serialText`, waits, reads it back and
// compares without regard to case. 0, PRT_ERR_VERIFY when the printer
// reports another number, or the result code of the step that failed (a
// failed read before the write only leaves the number before unknown). A
// printer that could not be put back from "FILE:" afterwards changes neither
// operation's result (PrintersLeftOnFile).
int32_t WritePrinterSerial(const wchar_t* serialText, SerialWriteFacts* facts);
