// The received-block log record on arbitrary data and capacities.
#include <cstring>
#include <vector>

#include "core/hex_dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t capacity = size ? (data[0] * 41u) % (kHexDumpTextBytes + 1) : kHexDumpTextBytes;
  std::vector<char> out(capacity);
  size_t n = FormatHexDump(data, size, out.data(), capacity);
  if (capacity != 0 && (n >= capacity || out[n] != '\0')) __builtin_trap();
  return 0;
}
