// The lanquay tests reach the library as the programs do: LoadLibrary and
// GetProcAddress, so the export table itself is under test as well.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "lanquay/lanquay.h"

typedef int(WINAPI* LqTransferFn)(LqHandle, char*, int32_t, int32_t*);
typedef int(WINAPI* LqGetErrorFn)(LqHandle);

struct LanquayLib {
  HMODULE module = nullptr;
  LqStartupFn startup = nullptr;
  LqCleanupFn cleanup = nullptr;
  LqOpenPortFn openPort = nullptr;
  LqClosePortFn closePort = nullptr;
  LqWritePortFn writePort = nullptr;
  LqWritePortFn writePortAsync = nullptr;
  LqTransferFn readPort = nullptr;
  LqRecvPortFn recvPort = nullptr;
  LqOpenStatusFn openStatus = nullptr;
  LqCloseStatusFn closeStatus = nullptr;
  LqGetDeviceIDFn getDeviceId = nullptr;
  LqGetDeviceIDFn getStatus = nullptr;
  LqGetErrorFn getError = nullptr;
};

// The library, loaded and started once per test program.
LanquayLib& Lq();

// Writes HKCU\Software\NWD_QUAYDLL values; a negative value deletes it.
void SetLqSetting(const char* name, int64_t value);
// Writes a value of the wrong size (8 bytes), which must count as 0.
void SetLqSettingQword(const char* name, uint64_t value);

// Resets simulated LAN printer 2 and sets lanquay's quick test timing (one
// second per wait, one retry, the default open limit). Its address, or ""
// when the simulator did not answer.
std::string QuickLanPrinter();

// Milliseconds since an earlier GetTickCount reading.
inline uint32_t MsSince(DWORD start) { return static_cast<uint32_t>(GetTickCount() - start); }
