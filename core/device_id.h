// Reading a printer's IEEE 1284 device ID reply as the network libraries hand
// it over, and finding the model name in it. Platform-free so that it can be
// tested and fuzzed natively: the reply comes from the network.
#pragma once

#include <cstddef>
#include <cstdint>

// The caller's reply buffer and the record's device ID field.
constexpr size_t kDeviceIdReplyBytes = 512;
constexpr size_t kDeviceIdFieldBytes = 512;
// The field keeps "%04x " (5 bytes), the text and a terminating zero.
constexpr size_t kDeviceIdFieldText = kDeviceIdFieldBytes - 6;

// How the length in front of the device ID text is written.
enum class DeviceIdLengthForm {
  BigEndian,  // two bytes, most significant first (slot 0)
  HexDigits,  // four hexadecimal digits and one separator (slot 1)
};

struct DeviceIdReply {
  uint32_t declaredLength;  // the length field as the printer wrote it
  size_t textOffset;        // where the text starts in the reply
  size_t textLength;        // bytes of text kept in the field
  bool modelFound;          // "MODEL:" or "MDL:" was present
};

// The length form that a binding slot's library delivers.
DeviceIdLengthForm DeviceIdFormOfSlot(int32_t slot);

// Parses received bytes of reply. Writes the field as "%04x " with the length
// followed by the text and a zero (field must hold fieldSize >= 6 bytes), and
// the model name, zero-terminated and cut to modelSize - 1 bytes, into model.
// A length field that is too small or claims more than arrived gives way to
// what actually arrived; the text is cut to what the field holds. The model
// is the value of "MODEL:" or, without it, of "MDL:", up to the next ';'.
// Never reads past reply + received or writes past the two buffers.
DeviceIdReply ParseDeviceIdReply(DeviceIdLengthForm form, const char* reply, size_t received, char* field,
                                 size_t fieldSize, char* model, size_t modelSize);
