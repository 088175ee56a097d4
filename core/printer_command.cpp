#include "printer_command.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "command_kinds.h"
#include "result_codes.h"

namespace {

const uint8_t kReset3[] = {0x1B, 0x3D, 0x02, 'R', 'E', 'S', 'E', 'T', '3', 0x1B, 0x3D, 0x03};
const uint8_t kVersionPrint[] = {0x1B, 0x40, 0x1D, 0x28, 0x41, 0x02, 0x00, 0x00, 0x02};
const uint8_t kReadFix[] = {0x1D, 0x65, 'R', 'E', 'A', 'D', 'F', 'I', 'X'};
const uint8_t kReadVari[] = {0x1D, 0x65, 'R', 'E', 'A', 'D', 'V', 'A', 'R', 'I'};
const uint8_t kSerial[] = {0x1D, 0x67, 'S', 'E', 'R', 'I', 'A', 'L'};

// Upper-cases the word starting at pos (up to a space or the end), skips one
// space, and upper-cases the next word the same way.
void UpperFirstTwoWords(uint8_t* text, size_t length, size_t pos) {
  for (int word = 0; word < 2; ++word) {
    while (pos < length && text[pos] != ' ') {
      text[pos] = static_cast<uint8_t>(std::toupper(text[pos]));
      ++pos;
    }
    if (pos < length) ++pos;  // the one space between the words
  }
}

// Offset of needle in text[from, length), or length when absent.
size_t Find(const uint8_t* text, size_t length, size_t from, const char* needle) {
  size_t n = std::strlen(needle);
  if (length < n) return length;
  for (size_t i = from; i + n <= length; ++i) {
    if (std::memcmp(text + i, needle, n) == 0) return i;
  }
  return length;
}

size_t LineEnd(const uint8_t* text, size_t length, size_t from) {
  while (from < length && text[from] != 0x0A) ++from;
  return from;
}

}  // namespace

const uint8_t* FixedCommandBytes(uint16_t kind, size_t* length) {
  switch (kind) {
    case MODE_RESET3:
      *length = sizeof(kReset3);
      return kReset3;
    case MODE_VERSION_PRINT:
      *length = sizeof(kVersionPrint);
      return kVersionPrint;
    case MODE_READFIX:
      *length = sizeof(kReadFix);
      return kReadFix;
    case MODE_READVARI:
      *length = sizeof(kReadVari);
      return kReadVari;
    default:
      *length = 0;
      return nullptr;
  }
}

size_t BuildSerialCommand(const char* text, size_t textLength, uint8_t* out) {
  if (textLength > kSerialTextMaxBytes) return 0;
  std::memcpy(out, kSerial, sizeof(kSerial));
  out[sizeof(kSerial)] = static_cast<uint8_t>(textLength);
  if (textLength != 0) std::memcpy(out + kSerialCommandHeaderBytes, text, textLength);
  return kSerialCommandHeaderBytes + textLength;
}

bool IsReset3Reply(const uint8_t* reply, size_t received) {
  return received >= 3 && reply[0] == 0x3B && reply[1] == 0x33 && reply[2] == 0x00;
}

bool HasReadFixHeader(const uint8_t* reply, size_t received) {
  return received >= 2 && reply[0] == 0x37 && reply[1] == 0x60;
}

bool HasReadVariHeader(const uint8_t* reply, size_t received) {
  return received >= 2 && reply[0] == 0x37 && reply[1] == 0x61;
}

int32_t ParseReadFixText(const uint8_t* text, size_t length, char* out) {
  // Work on a copy cut at the first NUL: the upper-casing must not change the
  // caller's reply, and the searches must stop where the text stops.
  const void* nul = length ? std::memchr(text, 0, length) : nullptr;
  if (nul != nullptr) length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - text);
  uint8_t* work = new uint8_t[length + 1];
  if (length) std::memcpy(work, text, length);
  work[length] = 0;

  int32_t result = PRT_ERR_FORMAT;
  char number[kFirmwareFieldMaxBytes + 1] = {};
  char version[kFirmwareFieldMaxBytes + 1] = {};
  size_t stored = 0;
  size_t pos = 0;
  size_t end = 0;

  UpperFirstTwoWords(work, length, 0);
  pos = Find(work, length, 0, "FIRMWARE NUMBER");
  if (pos == length) goto done;
  pos += std::strlen("FIRMWARE NUMBER");
  end = LineEnd(work, length, pos);
  for (; pos < end; ++pos) {
    uint8_t c = work[pos];
    if (c == ' ') continue;
    if (stored == kFirmwareFieldMaxBytes) goto done;
    number[stored++] = c == 0x0D ? '\0' : static_cast<char>(c);
  }

  // The version line starts after the number line's LF.
  pos = end < length ? end + 1 : length;
  UpperFirstTwoWords(work, length, pos);
  pos = Find(work, length, pos, "FIRMWARE VERSION");
  if (pos == length) goto done;
  pos += std::strlen("FIRMWARE VERSION");
  end = LineEnd(work, length, pos);
  stored = 0;
  for (; pos < end; ++pos) {
    uint8_t c = work[pos];
    if (c == ' ' && (stored == 0 || version[stored - 1] == ' ')) continue;
    if (stored == kFirmwareFieldMaxBytes) goto done;
    version[stored++] = c == 0x0D ? '\0' : static_cast<char>(c);
  }

  std::snprintf(out, kFirmwareTextBytes, "%s %s", number, version);
  result = 0;
done:
  delete[] work;
  return result;
}

size_t ReadVariSerialSpan(const uint8_t* reply, size_t received, size_t* start) {
  *start = 2;
  if (received <= 2) return 0;
  size_t n = 0;
  while (2 + n < received && reply[2 + n] != 0x0D && reply[2 + n] != 0x00) ++n;
  return n;
}
