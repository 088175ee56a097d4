// Datagrams from a raw ICMP socket are whatever the network sends.
#include <cstddef>
#include <cstdint>

#include "lanquay/search_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint16_t id = static_cast<uint16_t>(data[0] | (data[1] << 8));
  volatile bool accepted = lq::IsAcceptedEchoReply(data + 2, size - 2, id);
  (void)accepted;
  return 0;
}
