// DHCP datagrams arrive from any host on the network; the first byte picks
// how many entries the list already holds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lanquay/search_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static std::vector<uint8_t> entries(lq::kDhcpEntryLimit * lq::kEntryStride);
  uint32_t count = data[0] == 0xFF ? lq::kDhcpEntryLimit : data[0];
  char mac[lq::kMacTextLength + 1];
  if (lq::DhcpRequestMac(data + 1, size - 1, mac)) lq::AppendDhcpMac(entries.data(), &count, mac);
  return 0;
}
