#include "hex_dump.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kRule[] = "***********************************************";  // 47
constexpr size_t kBytesPerLine = 16;

// Appends text while it fits, leaving room for the terminator.
struct Sink {
  char* out;
  size_t capacity;
  size_t used;

  void Put(const char* text, size_t n) {
    if (capacity == 0) return;
    size_t room = capacity - 1 - used;
    if (n > room) n = room;
    std::memcpy(out + used, text, n);
    used += n;
    out[used] = '\0';
  }
  void Put(const char* text) { Put(text, std::strlen(text)); }
  void Repeat(char c, size_t n) {
    for (size_t i = 0; i < n; ++i) Put(&c, 1);
  }
  bool Full() const { return capacity == 0 || used == capacity - 1; }
};

void PutCharacters(Sink& sink, const uint8_t* line, size_t n) {
  sink.Repeat(' ', 5);
  for (size_t i = 0; i < n; ++i) {
    char c = line[i] < 0x20 ? '.' : static_cast<char>(line[i]);
    sink.Put(&c, 1);
  }
}

}  // namespace

size_t FormatHexDump(const uint8_t* data, size_t length, char* out, size_t capacity) {
  Sink sink{out, capacity, 0};
  if (capacity != 0) out[0] = '\0';
  char header[64];
  std::snprintf(header, sizeof(header), "ReceiveData = %ld Byte\n", static_cast<long>(length));
  sink.Put(header);
  sink.Put(kRule);
  sink.Put("\n");
  for (size_t start = 0; start < length && !sink.Full(); start += kBytesPerLine) {
    size_t n = length - start < kBytesPerLine ? length - start : kBytesPerLine;
    for (size_t i = 0; i < n; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), i == 0 ? "%02x" : ",%02x", data[start + i]);
      sink.Put(hex);
    }
    if (n == kBytesPerLine) {
      PutCharacters(sink, data + start, n);
      sink.Put("\r");
    } else {
      sink.Repeat(' ', 48 - 3 * n);
      PutCharacters(sink, data + start, n);
    }
  }
  sink.Put("\n");
  sink.Put(kRule);
  return sink.used;
}
