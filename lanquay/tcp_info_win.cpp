// The system's own count of the bytes a printer has not acknowledged yet.
// Kept apart from the rest of the library, which is written against the
// version 1.1 socket header: the query needs the version 2 headers.
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003  // the query came with Windows 10 1703
#endif
#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>

#include <cstdint>

bool LqUnacknowledged(SOCKET socket, uint64_t handedTotal, uint64_t* left) {
  DWORD version = 0;
  TCP_INFO_v0 info = {};
  DWORD size = 0;
  if (WSAIoctl(socket, SIO_TCP_INFO, &version, sizeof(version), &info, sizeof(info), &size, nullptr, nullptr) != 0 ||
      size < sizeof(info)) {
    return false;
  }
  // What the socket holds that never went out, and what went out unacknowledged.
  const uint64_t unsent = handedTotal > info.BytesOut ? handedTotal - info.BytesOut : 0;
  *left = unsent + info.BytesInFlight;
  return true;
}
