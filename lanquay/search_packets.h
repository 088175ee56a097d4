// Packets of the printer search, the connect probe and the job cancel, built
// and checked without any platform call so that they build and test natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lq {

constexpr size_t kBroadcastEchoSize = 45;
constexpr size_t kConfirmEchoSize = 44;
constexpr size_t kMacTextLength = 17;  // "XX:XX:XX:XX:XX:XX"

// Search result entries as they lie in the caller's array.
constexpr size_t kEntryStride = 96;
constexpr size_t kEntryIpOffset = 0;
constexpr size_t kEntryMacOffset = 32;
constexpr size_t kEntryFieldSize = 32;

// The DHCP listen has no capacity argument; the programs hand it arrays of
// 256 entries, so it never writes past that many.
constexpr uint32_t kDhcpEntryLimit = 256;

// Where a DHCP client puts its hardware address in the message.
constexpr size_t kDhcpHardwareOffset = 28;

// The two command-port lines of the job cancel, 16 bytes each, no NUL.
constexpr size_t kCancelLineSize = 16;
extern const char kCancelResetLine[kCancelLineSize];
extern const char kCancelQuitLine[kCancelLineSize];

// Internet checksum over `length` bytes: 16-bit words summed in the
// computer's byte order, an odd last byte padded with 0, carries folded
// twice. Returns the one's complement in the same byte order, ready to be
// stored with memcpy.
uint16_t InternetChecksum(const uint8_t* data, size_t length);

// The echo request sent to each network's broadcast address: identifier and
// sequence 1 (bytes 01 00), the tick count at offset 9 and the bytes
// 20..3F after it.
void BuildBroadcastEcho(uint8_t (&out)[kBroadcastEchoSize], uint32_t tick);

// The echo request that confirms one candidate: identifier (the low half of
// the process ID) and attempt number least significant byte first, the tick
// count at offset 8, 32 bytes of 45 after it.
void BuildConfirmEcho(uint8_t (&out)[kConfirmEchoSize], uint16_t identifier, uint16_t sequence, uint32_t tick);

// The confirmation echo request as sent: its destination (IPv4 address as it
// lies in memory, network byte order) and the identifier and sequence in it.
struct SentEcho {
  uint32_t destination;
  uint16_t identifier;
  uint16_t sequence;
};

// True when a datagram from a raw ICMP socket (IPv4 header first), received
// from `source`, is the echo reply to `sent`: from its destination, with its
// identifier and sequence. The raw socket hands over every ICMP message the
// computer receives (other hosts' echoes, unreachables, replies to other
// programs); none of those may confirm or end a check. The header length
// comes from the datagram itself, so every read is checked against `length`.
bool IsAcceptedEchoReply(const uint8_t* datagram, size_t length, uint32_t source, const SentEcho& sent);

// "%02X:%02X:%02X:%02X:%02X:%02X" of the first six bytes of `hardware`.
void FormatMacText(const uint8_t* hardware, char (&out)[kMacTextLength + 1]);

// The maker filter: "02:5A:C3" or "FE:FF:FF:FF" at the start, any case.
bool PassesMakerFilter(const char* macText);

// The MAC text of a DHCP client's request datagram; false when the datagram
// is too short to hold the hardware address.
bool DhcpRequestMac(const uint8_t* datagram, size_t length, char (&out)[kMacTextLength + 1]);

// Appends `macText` to the entries' MAC fields unless it fails the maker
// filter, is already listed among the first *count entries (any case), or the
// list holds kDhcpEntryLimit entries. Only the new entry's MAC field is
// written. Returns true when it was appended.
bool AppendDhcpMac(uint8_t* entries, uint32_t* count, const char* macText);

// The dotted text of an IPv4 address given in network byte order as it lies
// in memory (four bytes, most significant first).
void FormatIpText(const uint8_t (&address)[4], char (&out)[16]);

}  // namespace lq
