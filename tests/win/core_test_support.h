// Helpers of the core's Windows tests: a temporary program folder whose "Log"
// folder switches the debug log on, and connections to the simulated printer.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/command_kinds.h"
#include "core/printer_connection.h"
#include "core/settings_types.h"

// Logging into a fresh "<temp>\<name>\Log\_DEBUG.LOG" while the object lives.
class LogCapture {
 public:
  explicit LogCapture(const wchar_t* name) {
    GetTempPathW(kPathChars, folder_);
    wcscat(folder_, name);
    CreateDirectoryW(folder_, nullptr);
    swprintf(logFolder_, kPathChars, L"%ls\\Log", folder_);
    swprintf(logFile_, kPathChars, L"%ls\\_DEBUG.LOG", logFolder_);
    CreateDirectoryW(logFolder_, nullptr);
    DeleteFileW(logFile_);
    wcscpy(g_settings.programFolder, folder_);
    g_settings.logEnabled = 1;
  }
  ~LogCapture() {
    g_settings.logEnabled = 0;
    DeleteFileW(logFile_);
    RemoveDirectoryW(logFolder_);
    RemoveDirectoryW(folder_);
  }
  void Clear() { DeleteFileW(logFile_); }
  std::string Text() const {
    std::string out;
    FILE* f = _wfopen(logFile_, L"rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
  }
  // The texts of the log lines without their time stamps.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::string text = Text();
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      lines.push_back(line.size() >= 15 && line[0] == '[' ? line.substr(15) : line);
      pos = end + 2;
    }
    return lines;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const std::string& l : Lines()) n += l == line;
    return n;
  }

 private:
  wchar_t folder_[kPathChars] = {};
  wchar_t logFolder_[kPathChars] = {};
  wchar_t logFile_[kPathChars] = {};
};

// A connection as the windows fill it, with the selected port kind set to
// match (the core reads both).
inline PrinterConnection MakeConnection(int32_t portKind, const wchar_t* comPath, const wchar_t* portName) {
  PrinterConnection c = {};
  c.portKind = portKind;
  c.handle = INVALID_HANDLE_VALUE;
  wcsncpy(c.comPath, comPath, kComPathChars - 1);
  wcsncpy(c.portName, portName, kPortNameChars - 1);
  g_settings.portKind = portKind;
  return c;
}

inline std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string ToHex(const std::vector<unsigned char>& bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    snprintf(b, sizeof(b), "%02x", c);
    out += b;
  }
  return out;
}

// Process CPU time (user and kernel) in milliseconds.
inline double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

// A firmware-like block without printer command sequences: a byte pattern
// that never contains ESC (0x1B) or GS (0x1D).
inline std::vector<unsigned char> FirmwareBytes(size_t n, unsigned seed = 1) {
  std::vector<unsigned char> out(n);
  unsigned x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    unsigned char b = static_cast<unsigned char>(x >> 16);
    if (b == 0x1B || b == 0x1D) b = 0x20;
    out[i] = b;
  }
  return out;
}

// Copies bytes into a zero-filled global block, as the programs hold the
// firmware data.
inline BYTE* GlobalBlock(const std::vector<unsigned char>& bytes) {
  BYTE* block = static_cast<BYTE*>(GlobalAlloc(GPTR, bytes.size() ? bytes.size() : 1));
  if (block && !bytes.empty()) memcpy(block, bytes.data(), bytes.size());
  return block;
}

// CRC-32 (the zlib polynomial) of a block, to compare big blocks with what the
// simulated printer received without moving them through its control line.
inline unsigned long Crc32(const std::vector<unsigned char>& bytes) {
  unsigned long crc = 0xFFFFFFFFul;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320ul & (0ul - (crc & 1ul)));
  }
  return crc ^ 0xFFFFFFFFul;
}

// "OK <count> <crc>" as the simulator's received_crc answers for bytes.
inline std::string CrcAnswer(const std::vector<unsigned char>& bytes) {
  char text[64];
  snprintf(text, sizeof(text), "OK %lu %08lx", static_cast<unsigned long>(bytes.size()), Crc32(bytes));
  return text;
}

