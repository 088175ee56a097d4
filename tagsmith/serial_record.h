// Tagsmith's serial-number record.
#pragma once

#include <cstdint>

#include "serial_operations.h"

// Appends the entry of one write on the port the settings name: the number
// read just before (null when that read failed), the number written,
// whether the read-back matched, the spooler printers left on "FILE:" and
// the write's result. A record that cannot be written after a moment's
// tries is told in a box; the write's result stays.
void RecordSerialWrite(const SerialWriteFacts& facts, const wchar_t* serialWritten, int32_t result);
