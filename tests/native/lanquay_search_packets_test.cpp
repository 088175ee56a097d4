// The search, probe and cancel packets: layouts, checksum, reply acceptance,
// MAC text, maker filter and the DHCP listen's list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lanquay/search_packets.h"

namespace {

std::string Hex(const uint8_t* data, size_t length) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02X", data[i]);
    out += two;
  }
  return out;
}

// Verifies a checksum the way a receiver does: the sum over the whole
// message, checksum included, folds to all ones.
bool ChecksumVerifies(const uint8_t* data, size_t length) { return lq::InternetChecksum(data, length) == 0; }

std::vector<uint8_t> Shorter(std::vector<uint8_t> d) {
  d.pop_back();
  return d;
}

}  // namespace

TEST(InternetChecksum, KnownValues) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint8_t expect[2];  // as stored in memory
  } cases[] = {
      // The worked example of the checksum's definition: words 0001 F203 F4F5 F6F7.
      {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, {0x22, 0x0D}},
      {{}, {0xFF, 0xFF}},
      {{0xFF, 0xFF}, {0x00, 0x00}},
      // An odd last byte is the first byte of a word padded with 0.
      {{0x01}, {0xFE, 0xFF}},
      {{0x00, 0x01, 0x02}, {0xFD, 0xFE}},
      // Carries that need the second fold.
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00}, {0xFE, 0xFF}},
  };
  for (const Case& c : cases) {
    const uint16_t sum = lq::InternetChecksum(c.bytes.data(), c.bytes.size());
    uint8_t got[2];
    std::memcpy(got, &sum, 2);
    EXPECT_EQ(Hex(got, 2), Hex(c.expect, 2)) << "input " << Hex(c.bytes.data(), c.bytes.size());
  }
}

TEST(EchoRequests, BroadcastLayout) {
  uint8_t packet[lq::kBroadcastEchoSize];
  std::memset(packet, 0xCC, sizeof packet);
  lq::BuildBroadcastEcho(packet, 0x11223344u);
  EXPECT_EQ(Hex(packet, 2), "0800");
  EXPECT_EQ(Hex(packet + 4, 4), "01000100") << "identifier and sequence";
  EXPECT_EQ(packet[8], 0) << "reserved byte";
  EXPECT_EQ(Hex(packet + 9, 4), "44332211") << "tick, least significant byte first";
  for (int i = 0; i < 32; ++i) EXPECT_EQ(packet[13 + i], 0x20 + i) << "data byte " << i;
  EXPECT_TRUE(ChecksumVerifies(packet, sizeof packet)) << Hex(packet, sizeof packet);
}

TEST(EchoRequests, ConfirmationLayout) {
  struct Case {
    uint16_t id, seq;
    uint32_t tick;
    const char* head;  // bytes 0..11 apart from the checksum, checksum shown as ----
  } cases[] = {
      {0x1234, 0, 0xA0B0C0D0u, "0800----34120000D0C0B0A0"},
      {0xFFFF, 1, 0, "0800----FFFF010000000000"},
      {0x0001, 2, 1, "0800----0100020001000000"},
  };
  for (const Case& c : cases) {
    uint8_t packet[lq::kConfirmEchoSize];
    lq::BuildConfirmEcho(packet, c.id, c.seq, c.tick);
    std::string head = Hex(packet, 12);
    head.replace(4, 4, "----");
    EXPECT_EQ(head, c.head);
    for (int i = 12; i < 44; ++i) EXPECT_EQ(packet[i], 0x45) << "data byte " << i;
    EXPECT_TRUE(ChecksumVerifies(packet, sizeof packet)) << Hex(packet, sizeof packet);
  }
}

// Only the reply to our own request counts: from the host asked, with our
// identifier and this attempt's sequence; all else the raw socket hands over is passed.
TEST(EchoReply, Acceptance) {
  const uint32_t host = 0x0A00A8C0u;   // 192.168.0.10 as it lies in memory
  const uint32_t other = 0x0B00A8C0u;  // 192.168.0.11
  const lq::SentEcho sent = {host, 0xBEEF, 2};
  auto reply = [](uint8_t first, size_t headerBytes, uint8_t type, uint16_t id, uint16_t seq, size_t tail) {
    std::vector<uint8_t> d(headerBytes, 0);
    if (!d.empty()) d[0] = first;
    const uint8_t icmp[8] = {type, 0, 0x12, 0x34, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                             static_cast<uint8_t>(seq), static_cast<uint8_t>(seq >> 8)};
    d.insert(d.end(), icmp, icmp + 8);
    d.insert(d.end(), tail, 0x45);
    return d;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> datagram;
    uint32_t source;
    bool expect;
  } cases[] = {
      {"plain reply", reply(0x45, 20, 0, 0xBEEF, 2, 36), host, true},
      {"reply without data", reply(0x45, 20, 0, 0xBEEF, 2, 0), host, true},
      {"reply with IP options", reply(0x46, 24, 0, 0xBEEF, 2, 4), host, true},
      {"our reply, from another host", reply(0x45, 20, 0, 0xBEEF, 2, 36), other, false},
      {"other identifier", reply(0x45, 20, 0, 0xBEEE, 2, 36), host, false},
      {"identifier read big-endian", reply(0x45, 20, 0, 0xEFBE, 2, 36), host, false},
      {"earlier attempt's sequence", reply(0x45, 20, 0, 0xBEEF, 1, 36), host, false},
      {"sequence read big-endian", reply(0x45, 20, 0, 0xBEEF, 0x0200, 36), host, false},
      {"echo request, not reply", reply(0x45, 20, 8, 0xBEEF, 2, 36), host, false},
      {"unreachable", reply(0x45, 20, 3, 0xBEEF, 2, 36), host, false},
      {"one byte short", Shorter(reply(0x45, 20, 0, 0xBEEF, 2, 0)), host, false},
      {"header longer than datagram", reply(0x4F, 20, 0, 0xBEEF, 2, 10), host, false},
      {"empty", {}, host, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lq::IsAcceptedEchoReply(c.datagram.data(), c.datagram.size(), c.source, sent), c.expect) << c.name;
  }
  EXPECT_FALSE(lq::IsAcceptedEchoReply(nullptr, 28, host, sent));
}

TEST(MacText, FormatAndFilter) {
  struct Case {
    uint8_t hw[6];
    const char* text;
    bool passes;
  } cases[] = {
      {{0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03}, "02:5A:C3:01:02:03", true},
      {{0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x01}, "FE:FF:FF:FF:00:01", true},
      {{0xFE, 0xFF, 0xFF, 0xFE, 0x00, 0x01}, "FE:FF:FF:FE:00:01", false},
      {{0x02, 0x5A, 0xC4, 0x01, 0x02, 0x03}, "02:5A:C4:01:02:03", false},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "00:00:00:00:00:00", false},
      {{0x0a, 0xbc, 0xde, 0xf0, 0x12, 0x34}, "0A:BC:DE:F0:12:34", false},
  };
  for (const Case& c : cases) {
    char text[lq::kMacTextLength + 1];
    lq::FormatMacText(c.hw, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(lq::PassesMakerFilter(text), c.passes) << text;
  }
  struct FilterCase {
    const char* text;
    bool passes;
  } texts[] = {
      {"02:5a:c3:00:00:00", true}, {"fe:ff:ff:ff:12:34", true}, {"02:5A:C3", true},
      {"02:5A:C", false},          {"FE:FF:FF:F", false},       {"", false},
      {"12:5A:C3:00:00:00", false},
  };
  for (const FilterCase& c : texts) EXPECT_EQ(lq::PassesMakerFilter(c.text), c.passes) << '"' << c.text << '"';
  EXPECT_FALSE(lq::PassesMakerFilter(nullptr));
}

TEST(DhcpRequest, HardwareAddress) {
  std::vector<uint8_t> msg(300, 0);
  const uint8_t hw[6] = {0x02, 0x5A, 0xC3, 0xAA, 0xBB, 0xCC};
  std::memcpy(msg.data() + 28, hw, 6);
  char text[lq::kMacTextLength + 1];
  ASSERT_TRUE(lq::DhcpRequestMac(msg.data(), msg.size(), text));
  EXPECT_STREQ(text, "02:5A:C3:AA:BB:CC");
  ASSERT_TRUE(lq::DhcpRequestMac(msg.data(), 34, text)) << "34 bytes hold the address";
  EXPECT_FALSE(lq::DhcpRequestMac(msg.data(), 33, text)) << "33 bytes do not";
  EXPECT_FALSE(lq::DhcpRequestMac(nullptr, 300, text));
}

TEST(DhcpList, AppendsOnceAndStopsAtTheLimit) {
  std::vector<uint8_t> entries((lq::kDhcpEntryLimit + 4) * lq::kEntryStride, 0xEE);
  auto mac = [&](uint32_t i) {
    return std::string(reinterpret_cast<const char*>(entries.data() + i * lq::kEntryStride + lq::kEntryMacOffset));
  };
  uint32_t count = 0;
  EXPECT_TRUE(lq::AppendDhcpMac(entries.data(), &count, "02:5A:C3:00:00:01"));
  EXPECT_FALSE(lq::AppendDhcpMac(entries.data(), &count, "02:5a:c3:00:00:01")) << "same address, other case";
  EXPECT_FALSE(lq::AppendDhcpMac(entries.data(), &count, "00:11:22:33:44:55")) << "filtered";
  EXPECT_TRUE(lq::AppendDhcpMac(entries.data(), &count, "FE:FF:FF:FF:00:02"));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(mac(0), "02:5A:C3:00:00:01");
  EXPECT_EQ(mac(1), "FE:FF:FF:FF:00:02");
  // Only the MAC field is written: the IP and spare fields keep their bytes,
  // and the rest of the MAC field is zero.
  EXPECT_EQ(entries[1 * lq::kEntryStride], 0xEE);
  EXPECT_EQ(entries[1 * lq::kEntryStride + 64], 0xEE);
  EXPECT_EQ(entries[1 * lq::kEntryStride + lq::kEntryMacOffset + 31], 0);

  char text[32];
  for (uint32_t i = 2; i < lq::kDhcpEntryLimit + 3; ++i) {
    std::snprintf(text, sizeof text, "02:5A:C3:00:%02X:%02X", i >> 8, i & 0xFF);
    lq::AppendDhcpMac(entries.data(), &count, text);
  }
  EXPECT_EQ(count, lq::kDhcpEntryLimit);
  const uint8_t* beyond = entries.data() + lq::kDhcpEntryLimit * lq::kEntryStride;
  for (size_t i = 0; i < 4 * lq::kEntryStride; ++i) ASSERT_EQ(beyond[i], 0xEE) << "byte " << i << " past the limit";

  // A count given beyond the limit is left alone and nothing is written.
  uint32_t big = 1000;
  EXPECT_FALSE(lq::AppendDhcpMac(entries.data(), &big, "02:5A:C3:FF:FF:FF"));
  EXPECT_EQ(big, 1000u);
}

TEST(CancelLines, ExactBytes) {
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(lq::kCancelResetLine), 16),
            "534F46545F5245534554" "2020202020" "0A");
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(lq::kCancelQuitLine), 16),
            "51554954" "2020202020202020202020" "0A");
}

TEST(IpText, Dotted) {
  const uint8_t a[4] = {10, 250, 1, 255};
  char text[16];
  lq::FormatIpText(a, text);
  EXPECT_STREQ(text, "10.250.1.255");
  const uint8_t b[4] = {255, 255, 255, 255};
  lq::FormatIpText(b, text);
  EXPECT_STREQ(text, "255.255.255.255");
}
