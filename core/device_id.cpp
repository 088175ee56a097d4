#include "device_id.h"

#include <cstring>

namespace {

constexpr size_t kBigEndianHeader = 2;
constexpr size_t kHexHeader = 5;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to four hexadecimal digits, stopping at the first other character, as a
// scanf "%4x" would read them; no digit at all reads as 0.
uint32_t ReadHexLength(const char* text, size_t available) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4 && i < available; ++i) {
    int digit = HexValue(text[i]);
    if (digit < 0) break;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

// First occurrence of key in [text, text + length), or nullptr.
const char* FindKey(const char* text, size_t length, const char* key) {
  size_t keyLength = std::strlen(key);
  if (length < keyLength) return nullptr;
  for (size_t i = 0; i + keyLength <= length; ++i) {
    if (std::memcmp(text + i, key, keyLength) == 0) return text + i;
  }
  return nullptr;
}

void WriteField(char* field, size_t fieldSize, const char* text, size_t textLength) {
  static const char kDigits[] = "0123456789abcdef";
  // The stored length always describes the stored text, so that a reader of
  // the field never runs past it, even when the printer's own length was off.
  uint32_t length = static_cast<uint32_t>(textLength + 2);
  field[0] = kDigits[(length >> 12) & 0xF];
  field[1] = kDigits[(length >> 8) & 0xF];
  field[2] = kDigits[(length >> 4) & 0xF];
  field[3] = kDigits[length & 0xF];
  field[4] = ' ';
  if (textLength > 0) std::memcpy(field + 5, text, textLength);
  std::memset(field + 5 + textLength, 0, fieldSize - 5 - textLength);
}

}  // namespace

DeviceIdLengthForm DeviceIdFormOfSlot(int32_t slot) {
  return slot == 0 ? DeviceIdLengthForm::BigEndian : DeviceIdLengthForm::HexDigits;
}

DeviceIdReply ParseDeviceIdReply(DeviceIdLengthForm form, const char* reply, size_t received, char* field,
                                 size_t fieldSize, char* model, size_t modelSize) {
  DeviceIdReply out = {};
  if (reply == nullptr) received = 0;
  if (form == DeviceIdLengthForm::BigEndian) {
    out.textOffset = kBigEndianHeader;
    if (received >= kBigEndianHeader) {
      out.declaredLength = (static_cast<uint32_t>(static_cast<unsigned char>(reply[0])) << 8) |
                           static_cast<unsigned char>(reply[1]);
    }
  } else {
    out.textOffset = kHexHeader;
    out.declaredLength = ReadHexLength(reply, received);
  }

  const char* text = received > out.textOffset ? reply + out.textOffset : reply;
  size_t arrived = received > out.textOffset ? received - out.textOffset : 0;

  // The declared length counts its own two bytes. A length below 2 or beyond
  // what arrived cannot be trusted: keep what arrived instead.
  size_t keep = arrived;
  if (out.declaredLength >= 2 && out.declaredLength - 2 <= arrived) keep = out.declaredLength - 2;
  if (fieldSize < 6) {
    keep = 0;
  } else if (keep > fieldSize - 6) {
    keep = fieldSize - 6;
  }
  out.textLength = keep;
  if (field != nullptr && fieldSize >= 6) WriteField(field, fieldSize, text, keep);

  // The key search treats the reply as a zero-terminated text.
  const void* zero = arrived > 0 ? std::memchr(text, '\0', arrived) : nullptr;
  size_t searchable = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text) : arrived;

  if (model != nullptr && modelSize > 0) model[0] = '\0';
  const char* value = nullptr;
  if (const char* key = FindKey(text, searchable, "MODEL:")) {
    value = key + 6;
  } else if (const char* shortKey = FindKey(text, searchable, "MDL:")) {
    value = shortKey + 4;
  }
  if (value == nullptr) return out;
  out.modelFound = true;

  size_t rest = searchable - static_cast<size_t>(value - text);
  const void* semicolon = rest > 0 ? std::memchr(value, ';', rest) : nullptr;
  size_t valueLength = semicolon != nullptr ? static_cast<size_t>(static_cast<const char*>(semicolon) - value) : rest;
  if (model != nullptr && modelSize > 0) {
    if (valueLength > modelSize - 1) valueLength = modelSize - 1;
    std::memcpy(model, value, valueLength);
    model[valueLength] = '\0';
  }
  return out;
}
