// A stand-in for the other vendor's network port library, built only for the
// tests so that slot 0 can be exercised without it. It talks to the printer
// simulator over loopback: raw data on port 9100, the device ID on port 9200.
// Plain blocking sockets with time-outs; nothing here is ever shipped.
//
// Switches, read when the call runs:
//   KIT_SXSTUB_STARTUP=fail    SxStartup returns 0
//   KIT_SXSTUB_SEARCH=list     SxSendSearch reports "ip,mac;ip,mac;..."
//   KIT_SXSTUB_SEARCH=!open    SxOpenSearch returns -1
//   KIT_SXSTUB_SEARCH=!send    SxSendSearch returns 0
// Startup and Cleanup calls are counted in KIT_SXSTUB_CALLS ("S" and "C"
// appended) so that a test can see the order of calls.
//   KIT_SXSTUB_PORT_LOG=path   every SxOpenPort appends its host and a line
//                              feed to that file, so that a test can see
//                              from outside which library a program used.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lanquay/lanquay.h"

namespace {

constexpr int kMaxHandles = 64;
constexpr int kHandleBase = 0x100;  // handles never look like 0 or -1
constexpr DWORD kTimeoutMs = 8000;
constexpr u_short kDataPort = 9100;
constexpr u_short kCommandPort = 9200;

struct Slot {
  bool used;
  SOCKET socket;      // port handles
  char host[36];      // status handles
};
Slot g_slots[kMaxHandles];

std::string Env(const char* name) {
  char value[4096];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
  return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

void NoteCall(const char* what) {
  std::string calls = Env("KIT_SXSTUB_CALLS") + what;
  SetEnvironmentVariableA("KIT_SXSTUB_CALLS", calls.c_str());
}

void NotePortOpen(const char* host) {
  std::string path = Env("KIT_SXSTUB_PORT_LOG");
  if (path.empty() || host == nullptr) return;
  FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", host);
  std::fclose(file);
}

LqHandle NewHandle() {
  for (int i = 0; i < kMaxHandles; ++i) {
    if (!g_slots[i].used) {
      g_slots[i] = Slot{true, INVALID_SOCKET, {}};
      return kHandleBase + i;
    }
  }
  return -1;
}

Slot* Find(LqHandle handle) {
  int i = handle - kHandleBase;
  if (i < 0 || i >= kMaxHandles || !g_slots[i].used) return nullptr;
  return &g_slots[i];
}

SOCKET Connect(const char* host, u_short port) {
  if (host == nullptr) return INVALID_SOCKET;
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return s;
  DWORD timeout = kTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = inet_addr(host);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

extern "C" {

int WINAPI SxStartup(HINSTANCE instance) {
  NoteCall("S");
  if (Env("KIT_SXSTUB_STARTUP") == "fail") return 0;
  WSADATA wsa;
  return WSAStartup(MAKEWORD(2, 2), &wsa) == 0 ? 1 : 0;
}

int WINAPI SxCleanup(void) {
  NoteCall("C");
  WSACleanup();
  return 1;
}

LqHandle WINAPI SxOpenPort(const char* host) {
  NotePortOpen(host);
  SOCKET s = Connect(host, kDataPort);
  if (s == INVALID_SOCKET) return -1;
  LqHandle handle = NewHandle();
  if (handle == -1) {
    closesocket(s);
    return -1;
  }
  Find(handle)->socket = s;
  return handle;
}

int WINAPI SxClosePort(LqHandle handle) {
  Slot* slot = Find(handle);
  if (slot == nullptr) return 0;
  shutdown(slot->socket, SD_SEND);
  // Let the printer see the end of the data before the socket goes away.
  DWORD drainTimeout = 1000;
  setsockopt(slot->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&drainTimeout),
             sizeof(drainTimeout));
  char scratch[256];
  while (recv(slot->socket, scratch, sizeof(scratch), 0) > 0) {
  }
  int ok = closesocket(slot->socket) == 0 ? 1 : 0;
  slot->used = false;
  return ok;
}

int WINAPI SxWritePort(LqHandle handle, const char* data, uint32_t length, uint32_t* sent) {
  Slot* slot = Find(handle);
  if (slot == nullptr || data == nullptr || sent == nullptr || slot->socket == INVALID_SOCKET) return 0;
  *sent = 0;
  while (*sent < length) {
    uint32_t piece = length - *sent < 16384 ? length - *sent : 16384;
    int r = send(slot->socket, data + *sent, static_cast<int>(piece), 0);
    if (r <= 0) return 0;
    *sent += static_cast<uint32_t>(r);
  }
  return 1;
}

// One attempt without waiting: 0 when nothing is waiting.
int WINAPI SxRecvPort(LqHandle handle, char* buffer, int32_t size, int32_t* received) {
  Slot* slot = Find(handle);
  if (slot == nullptr || buffer == nullptr || received == nullptr || slot->socket == INVALID_SOCKET) return 0;
  *received = 0;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(slot->socket, &readable);
  timeval now = {0, 0};
  if (select(0, &readable, nullptr, nullptr, &now) != 1) return 0;
  int r = recv(slot->socket, buffer, size, 0);
  if (r < 0) return 0;
  *received = r;
  return 1;
}

LqHandle WINAPI SxOpenStatus(const char* host) {
  if (host == nullptr) return -1;
  LqHandle handle = NewHandle();
  if (handle == -1) return -1;
  Slot* slot = Find(handle);
  std::snprintf(slot->host, sizeof(slot->host), "%s", host);
  return handle;
}

int WINAPI SxCloseStatus(LqHandle handle) {
  Slot* slot = Find(handle);
  if (slot == nullptr) return 0;
  slot->used = false;
  return 1;
}

// Asks the printer for its device ID and answers in the two-byte big-endian
// length form, converted from the printer's "%04x " form.
int WINAPI SxGetDeviceID(LqHandle handle, char* buffer, int32_t capacity, uint32_t* length) {
  Slot* slot = Find(handle);
  if (slot == nullptr || buffer == nullptr || length == nullptr || capacity < 2) return 0;
  SOCKET s = Connect(slot->host, kCommandPort);
  if (s == INVALID_SOCKET) return 0;
  static const char kRequest[] = "GET_DEVICE_ID  \n";
  send(s, kRequest, 16, 0);
  char reply[512];
  int got = recv(s, reply, sizeof(reply), 0);
  closesocket(s);
  if (got < 0) return 0;
  if (got < 5) {
    *length = 0;
    return 1;
  }
  unsigned value = 0;
  for (int i = 0; i < 4; ++i) {
    int digit = HexDigit(reply[i]);
    if (digit < 0) break;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  buffer[0] = static_cast<char>((value >> 8) & 0xFF);
  buffer[1] = static_cast<char>(value & 0xFF);
  int text = got - 5;
  if (text > capacity - 2) text = capacity - 2;
  std::memcpy(buffer + 2, reply + 5, static_cast<size_t>(text));
  *length = static_cast<uint32_t>(text + 2);
  return 1;
}

LqHandle WINAPI SxOpenSearch(void) {
  if (Env("KIT_SXSTUB_SEARCH") == "!open") return -1;
  return NewHandle();
}

int WINAPI SxCloseSearch(LqHandle handle) {
  Slot* slot = Find(handle);
  if (slot == nullptr) return 0;
  slot->used = false;
  return 1;
}

// Reports the entries listed in KIT_SXSTUB_SEARCH instead of searching.
int WINAPI SxSendSearch(LqHandle handle, LqSearchEntry* entries, int32_t capacity, int32_t waitSeconds,
                        int32_t reserved, uint32_t* count) {
  if (Find(handle) == nullptr || entries == nullptr || count == nullptr) return 0;
  *count = 0;
  std::string list = Env("KIT_SXSTUB_SEARCH");
  if (list == "!send") return 0;
  size_t at = 0;
  while (at < list.size() && static_cast<int32_t>(*count) < capacity) {
    size_t end = list.find(';', at);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    size_t comma = item.find(',');
    std::string ip = item.substr(0, comma);
    std::string mac = comma == std::string::npos ? std::string() : item.substr(comma + 1);
    LqSearchEntry& entry = entries[*count];
    std::snprintf(entry.ipAddress, sizeof(entry.ipAddress), "%s", ip.c_str());
    std::snprintf(entry.macAddress, sizeof(entry.macAddress), "%s", mac.c_str());
    ++*count;
  }
  return 1;
}

int WINAPI SxSetUseICMP(int32_t flag) { return 1; }

}  // extern "C"
