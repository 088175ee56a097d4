// The one entry point through which both programs talk to a printer: one
// call opens the port, sends a command or the caller's block, waits for and
// parses the reply where the command has one, and closes the port.
#pragma once

#include <windows.h>

#include <cstdint>

#include "printer_connection.h"

constexpr int kFirmwareVersionChars = 44;  // 43 characters and terminator
constexpr int kSerialNumberChars = 51;     // filled with at most 50 including terminator

// Set by a successful MODE_READFIX: the firmware number, a space, the version.
extern wchar_t FirmwareVersionText[kFirmwareVersionChars];
// Set by a successful MODE_READVARI: the printer's serial number.
extern wchar_t SerialNumberText[kSerialNumberChars];

// One complete exchange of the given command kind. serialText is used only
// by MODE_SERIALNO_SET. For kinds 17 to 21 the command block is allocated
// here; for the others the caller's block is sent unchanged. Except for
// MODE_FWSEND, the block is freed (GlobalFree) and data set to null before
// the call returns, whatever the result. Returns 0 or a result code.
int32_t SendPrinter(uint16_t kind, PrinterConnection* connection, const wchar_t* serialText,
                    CommandBuffer* commandBuffer);

// Receives and checks the reply of kinds 17, 19 and 20 after the command was
// sent. Returns 0, PRT_ERR_DATA, PRT_ERR_FORMAT or the receive's result.
int32_t CommandWait(uint16_t kind, const PrinterConnection* connection);
