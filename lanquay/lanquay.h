// The exported interface of lanquay.dll. Another vendor's library offers the
// same calls under the prefix Sx, so argument lists and results are a fixed
// contract. Handles are 32-bit values on both Windows targets; -1 is the
// failure value of the open calls and 0 is accepted and refused by every
// handle-taking call.
#pragma once

#include <windows.h>

#include <cstdint>

typedef int32_t LqHandle;

// One entry of the caller-owned search result array; entries lie 96 bytes apart.
struct LqSearchEntry {
  char ipAddress[32];   // dotted IPv4 text, NUL-terminated
  char macAddress[32];  // "XX:XX:XX:XX:XX:XX", NUL-terminated
  char reserved[32];    // never written by the library
};
static_assert(sizeof(LqSearchEntry) == 96, "LqSearchEntry crosses the DLL boundary");

extern "C" {
int WINAPI LqStartup(HINSTANCE instance);
int WINAPI LqCleanup(void);
LqHandle WINAPI LqOpenPort(const char* host);
int WINAPI LqReadPort(LqHandle handle, char* buffer, int32_t size, int32_t* received);
int WINAPI LqWritePort_Async(LqHandle handle, const char* data, uint32_t length, uint32_t* sent);
int WINAPI LqClosePort(LqHandle handle);
LqHandle WINAPI LqOpenStatus(const char* host);
int WINAPI LqCloseStatus(LqHandle handle);
int WINAPI LqGetStatus(LqHandle handle, char* buffer, int32_t capacity, uint32_t* length);
int WINAPI LqGetDeviceID(LqHandle handle, char* buffer, int32_t capacity, uint32_t* length);
LqHandle WINAPI LqOpenSearch(void);
int WINAPI LqCloseSearch(LqHandle handle);
int WINAPI LqSendSearch(LqHandle handle, LqSearchEntry* entries, int32_t capacity, int32_t waitSeconds,
                        int32_t reserved, uint32_t* count);
int WINAPI LqGetError(LqHandle handle);
int WINAPI LqSendCancel(const char* host);
int WINAPI LqSetUseICMP(int32_t flag);
int WINAPI LqSendICMP_Async(const char* host);
int WINAPI LqRecvPort(LqHandle handle, char* buffer, int32_t size, int32_t* received);
int WINAPI LqWritePort(LqHandle handle, const char* data, uint32_t length, uint32_t* sent);
int WINAPI LqSendICMP(const char* host);
int WINAPI LqSendSearch_DHCPreq(LqHandle handle, LqSearchEntry* entries, uint32_t seconds, uint32_t rounds,
                                uint32_t* count);
}

// Pointer types of the thirteen entry points that the programs bind by name.
typedef int(WINAPI* LqStartupFn)(HINSTANCE);
typedef int(WINAPI* LqCleanupFn)(void);
typedef LqHandle(WINAPI* LqOpenPortFn)(const char*);
typedef int(WINAPI* LqClosePortFn)(LqHandle);
typedef int(WINAPI* LqWritePortFn)(LqHandle, const char*, uint32_t, uint32_t*);
typedef LqHandle(WINAPI* LqOpenStatusFn)(const char*);
typedef int(WINAPI* LqCloseStatusFn)(LqHandle);
typedef int(WINAPI* LqGetDeviceIDFn)(LqHandle, char*, int32_t, uint32_t*);
typedef LqHandle(WINAPI* LqOpenSearchFn)(void);
typedef int(WINAPI* LqCloseSearchFn)(LqHandle);
typedef int(WINAPI* LqSendSearchFn)(LqHandle, LqSearchEntry*, int32_t, int32_t, int32_t, uint32_t*);
typedef int(WINAPI* LqSetUseICMPFn)(int32_t);
typedef int(WINAPI* LqRecvPortFn)(LqHandle, char*, int32_t, int32_t*);
