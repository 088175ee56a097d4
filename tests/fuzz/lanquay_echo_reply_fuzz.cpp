// Datagrams from a raw ICMP socket are whatever the network sends.
#include <cstddef>
#include <cstdint>

#include "lanquay/search_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const lq::SentEcho sent = {0x0100007Fu, static_cast<uint16_t>(data[0] | (data[1] << 8)),
                             static_cast<uint16_t>(data[2] | (data[3] << 8))};
  volatile bool accepted = lq::IsAcceptedEchoReply(data + 4, size - 4, sent.destination, sent);
  (void)accepted;
  return 0;
}
