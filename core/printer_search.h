// Search for network printers through the bound libraries, and the device ID
// and model of each printer found.
#pragma once

#include <cstdint>

#include "net_binding.h"
#include "settings_types.h"

// Searches through every loaded slot, slot 0 first, and collects each printer
// whose device ID names a model into results (kLanListRecords records, the
// caller's block). found receives the number of records filled. Returns 0
// when at least one printer was collected, else PRT_ERR_OPEN or
// PRT_ERR_SEARCH. mode is 3 (writing method "Online") or 4 ("PowerOn"); both
// search alike.
int32_t SearchPrinter(int32_t mode, LanPrinterRecord* results, int32_t* found,
                      const NetLibraryBinding* bindings = g_netLibraries);

// Reads the device ID of the printer at ipAddress through binding slot slot:
// fills record's device ID field ("%04x " length and text) and model
// (caller's 256-byte buffer) with the model name. Returns 0, or
// PRT_ERR_SEARCH when the printer cannot be asked or names no model.
int32_t GetDeviceID(const char* ipAddress, char* model, LanPrinterRecord* record, int32_t slot,
                    const NetLibraryBinding* bindings = g_netLibraries);

// The size of GetDeviceID's model buffer.
constexpr int kModelBufferBytes = 256;
