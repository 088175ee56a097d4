// Tagsmith's serial-number record.
#pragma once

#include <cstdint>

// Appends the entry of one write on the port the settings name: the number
// last read from the printer before (null when none was read), the number
// written and the write's result (0 when the read-back matched). A record
// that cannot be written is logged only.
void RecordSerialWrite(const wchar_t* serialBefore, const wchar_t* serialWritten, int32_t result);
