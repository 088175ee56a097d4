#include "search_packets.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace lq {

const char kCancelResetLine[kCancelLineSize] = {'S', 'O', 'F', 'T', '_', 'R', 'E', 'S',
                                                'E', 'T', ' ', ' ', ' ', ' ', ' ', '\n'};
const char kCancelQuitLine[kCancelLineSize] = {'Q', 'U', 'I', 'T', ' ', ' ', ' ', ' ',
                                               ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\n'};

namespace {

void PutLittle16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLittle32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void StoreChecksum(uint8_t* message, size_t length) {
  message[2] = 0;
  message[3] = 0;
  const uint16_t sum = InternetChecksum(message, length);
  std::memcpy(message + 2, &sum, 2);
}

bool PrefixEqualsNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (*text == '\0') return false;
    if (std::toupper(static_cast<unsigned char>(*text)) != std::toupper(static_cast<unsigned char>(*prefix)))
      return false;
  }
  return true;
}

}  // namespace

uint16_t InternetChecksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) {
    uint16_t word;
    std::memcpy(&word, data + i, 2);
    sum += word;
  }
  if (i < length) {
    // The odd byte takes the first place of a word whose other byte is 0.
    const uint8_t last[2] = {data[i], 0};
    uint16_t word;
    std::memcpy(&word, last, 2);
    sum += word;
  }
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<uint16_t>(~sum);
}

void BuildBroadcastEcho(uint8_t (&out)[kBroadcastEchoSize], uint32_t tick) {
  std::memset(out, 0, sizeof out);
  out[0] = 8;  // echo request, code 0
  out[4] = 1;  // identifier bytes 01 00
  out[6] = 1;  // sequence bytes 01 00
  PutLittle32(out + 9, tick);
  for (int i = 0; i < 32; ++i) out[13 + i] = static_cast<uint8_t>(0x20 + i);
  StoreChecksum(out, sizeof out);
}

void BuildConfirmEcho(uint8_t (&out)[kConfirmEchoSize], uint16_t identifier, uint16_t sequence, uint32_t tick) {
  std::memset(out, 0, sizeof out);
  out[0] = 8;
  PutLittle16(out + 4, identifier);
  PutLittle16(out + 6, sequence);
  PutLittle32(out + 8, tick);
  std::memset(out + 12, 0x45, 32);
  StoreChecksum(out, sizeof out);
}

bool IsAcceptedEchoReply(const uint8_t* datagram, size_t length, uint32_t source, const SentEcho& sent) {
  if (datagram == nullptr || length == 0 || source != sent.destination) return false;
  const size_t h = static_cast<size_t>(datagram[0] & 0x0F) * 4;
  if (length < h + 8) return false;
  if (datagram[h] != 0) return false;
  // Read in the byte order they were written in.
  const uint16_t identifier = static_cast<uint16_t>(datagram[h + 4] | (datagram[h + 5] << 8));
  const uint16_t sequence = static_cast<uint16_t>(datagram[h + 6] | (datagram[h + 7] << 8));
  return identifier == sent.identifier && sequence == sent.sequence;
}

void FormatMacText(const uint8_t* hardware, char (&out)[kMacTextLength + 1]) {
  std::snprintf(out, sizeof out, "%02X:%02X:%02X:%02X:%02X:%02X", hardware[0], hardware[1], hardware[2],
                hardware[3], hardware[4], hardware[5]);
}

bool PassesMakerFilter(const char* macText) {
  if (macText == nullptr) return false;
  return PrefixEqualsNoCase(macText, "FE:FF:FF:FF") || PrefixEqualsNoCase(macText, "02:5A:C3");
}

bool DhcpRequestMac(const uint8_t* datagram, size_t length, char (&out)[kMacTextLength + 1]) {
  if (datagram == nullptr || length < kDhcpHardwareOffset + 6) return false;
  FormatMacText(datagram + kDhcpHardwareOffset, out);
  return true;
}

bool AppendDhcpMac(uint8_t* entries, uint32_t* count, const char* macText) {
  if (entries == nullptr || count == nullptr || !PassesMakerFilter(macText)) return false;
  const uint32_t listed = *count < kDhcpEntryLimit ? *count : kDhcpEntryLimit;
  const size_t length = std::strlen(macText);
  for (uint32_t i = 0; i < listed; ++i) {
    const char* field = reinterpret_cast<const char*>(entries + i * kEntryStride + kEntryMacOffset);
    bool same = true;
    for (size_t k = 0; k < length && same; ++k) {
      same = std::toupper(static_cast<unsigned char>(field[k])) ==
             std::toupper(static_cast<unsigned char>(macText[k]));
    }
    if (same) return false;
  }
  if (*count >= kDhcpEntryLimit) return false;
  uint8_t* field = entries + static_cast<size_t>(*count) * kEntryStride + kEntryMacOffset;
  std::memset(field, 0, kEntryFieldSize);
  std::memcpy(field, macText, length < kEntryFieldSize - 1 ? length : kEntryFieldSize - 1);
  ++*count;
  return true;
}

void FormatIpText(const uint8_t (&address)[4], char (&out)[16]) {
  std::snprintf(out, sizeof out, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

}  // namespace lq
