// The fixed-settings reply parse on arbitrary printer replies.
#include <cstring>

#include "core/printer_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char out[kFirmwareTextBytes];
  std::memset(out, 0x55, sizeof(out));
  if (ParseReadFixText(data, size, out) == 0 && std::memchr(out, 0, sizeof(out)) == nullptr) __builtin_trap();
  size_t start = 0;
  size_t n = ReadVariSerialSpan(data, size, &start);
  if (n != 0 && start + n > size) __builtin_trap();
  return 0;
}
