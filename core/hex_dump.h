// The debug-log record of a received block: a header with the byte count,
// then 16 bytes per line in hexadecimal and as characters.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the text the record is built in; a longer dump is cut to it.
constexpr size_t kHexDumpTextBytes = 10240;

// Formats the record into out (capacity bytes, normally kHexDumpTextBytes),
// always NUL-terminated when capacity is not 0, and returns its length. Full
// lines end with CR; bytes below 0x20 show as "." in the character column.
size_t FormatHexDump(const uint8_t* data, size_t length, char* out, size_t capacity);
