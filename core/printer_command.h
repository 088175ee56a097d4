// Byte-level side of the printer command exchange: the command bytes of each
// kind, the serial-number command, and the checks and parses of the replies.
// Platform-free so that it builds natively for tests and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest serial text the one-byte length field can describe.
constexpr size_t kSerialTextMaxBytes = 255;
// The serial command: "GS g SERIAL", the length byte, the text.
constexpr size_t kSerialCommandHeaderBytes = 9;
constexpr size_t kSerialCommandMaxBytes = kSerialCommandHeaderBytes + kSerialTextMaxBytes;

// Sizes of the reply buffers and of the parsed fields.
constexpr size_t kReplyBufferBytes = 2582;
constexpr size_t kReadFixCapacity = 2582;
constexpr size_t kReadVariCapacity = 2050;
constexpr size_t kReset3Capacity = 3;
constexpr size_t kFirmwareFieldMaxBytes = 20;  // stored bytes of the number or the version
constexpr size_t kFirmwareTextBytes = 50;       // "number version" and terminator

// The fixed command of a kind (17 to 20), or null for kinds without one.
// length receives the byte count.
const uint8_t* FixedCommandBytes(uint16_t kind, size_t* length);

// Builds the serial-number command into out (at least kSerialCommandMaxBytes).
// Returns the command length, or 0 when the text is longer than the length
// byte can say: such a command would announce a wrong length to the printer.
size_t BuildSerialCommand(const char* text, size_t textLength, uint8_t* out);

// True when a reset reply of received bytes is exactly ";3" NUL.
bool IsReset3Reply(const uint8_t* reply, size_t received);

// True when the reply starts with the two header bytes of the kind
// (READFIX "7`", READVARI "7a").
bool HasReadFixHeader(const uint8_t* reply, size_t received);
bool HasReadVariHeader(const uint8_t* reply, size_t received);

// Parses the fixed-settings text (the reply after its two header bytes) into
// "number version", NUL-terminated, in out (kFirmwareTextBytes). Returns 0 or
// PRT_ERR_FORMAT. The text ends at its first NUL or after length bytes,
// whichever comes first; nothing past it is read. The first two words of the
// text and of the version line are upper-cased with toupper on unsigned char
// (the C library's idea of the current locale), because printers answer in
// mixed case. out is left untouched on failure.
int32_t ParseReadFixText(const uint8_t* text, size_t length, char* out);

// Locates the serial text of a READVARI reply that has its header: it starts
// at the third byte and ends at the first CR or NUL, or at received bytes.
// Returns the byte count; start receives its offset (2). A reply too short to
// hold text gives 0.
size_t ReadVariSerialSpan(const uint8_t* reply, size_t received, size_t* start);
