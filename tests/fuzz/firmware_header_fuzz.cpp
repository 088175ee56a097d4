// Firmware files are opaque bytes: the header scan must stay inside them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/firmware_file_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);  // exact size, so ASan sees any overrun
  char label[kHeaderLabelBytes];
  if (FindFirmwareHeaderLabel(copy.data(), copy.size(), label) && std::strlen(label) >= kHeaderLabelBytes) {
    __builtin_trap();
  }
  return 0;
}
