// The connection record that the windows fill before each exchange and the
// command buffer that carries one command or the firmware block.
#pragma once

#include <windows.h>

#include <cstdint>

#include "command_kinds.h"

constexpr int kComPathChars = 261;
constexpr int kPortNameChars = 251;

struct PrinterConnection {
  int32_t portKind;                 // PORT_USB, PORT_COM, PORT_LPT or PORT_LAN
  HANDLE handle;                    // open file, or the network library's port handle; INVALID_HANDLE_VALUE when closed
  wchar_t comPath[kComPathChars];   // COM only: "\\.\COMn"
  wchar_t portName[kPortNameChars]; // USB device path, COM name, "LPTn" or dotted IP address
};

// A block from the global heap (GlobalAlloc, zero-filled) and its byte count.
struct CommandBuffer {
  uint32_t length;
  BYTE* data;
};

// A network library's 32-bit port handle kept in the HANDLE field; -1 maps to
// INVALID_HANDLE_VALUE on both targets because the value is sign-extended.
inline HANDLE HandleFromLq(int32_t lq) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(lq)); }
inline int32_t LqFromHandle(HANDLE h) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(h)); }
