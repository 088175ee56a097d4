// Any reply bytes, either length form: the parser must stay inside the reply,
// the field and the model buffer, and keep the field terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/device_id.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  DeviceIdLengthForm form = (data[0] & 1) ? DeviceIdLengthForm::BigEndian : DeviceIdLengthForm::HexDigits;
  std::vector<char> reply(data + 1, data + size);  // exact size, so over-reads trip ASan
  char field[kDeviceIdFieldBytes];
  char model[32];
  DeviceIdReply got = ParseDeviceIdReply(form, reply.data(), reply.size(), field, sizeof(field), model, sizeof(model));
  if (got.textLength > kDeviceIdFieldText || got.textLength > reply.size()) std::abort();
  if (std::memchr(field, '\0', sizeof(field)) == nullptr) std::abort();
  if (std::strlen(model) >= sizeof(model)) std::abort();
  return 0;
}
