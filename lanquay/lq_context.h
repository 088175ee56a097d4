// lanquay's handle record and the frame that every part of the library shares:
// the handle table, the process-wide settings and the hidden-window exchange.
#pragma once

#include <winsock.h>
#include <windows.h>

#include <cstdint>

#include "lanquay.h"
#include "lq_limits.h"

// One record type serves every handle kind (port, status, search) and the
// one-shot calls. Allocated zero-filled by the library, freed by the matching
// close call.
struct LqContext {
  HINSTANCE instance;
  SOCKET socket;          // INVALID_SOCKET when there is none
  char host[36];          // at most 35 characters and NUL
  int64_t replyCapacity;  // status: size of the caller's reply buffer
  uint32_t replyLength;   // status: bytes stored by the last exchange
  uint64_t sentInCall;    // data port: bytes the current write handed on
  uint32_t wrote;         // data port: nonzero once any write handed bytes on
  int32_t timeStep;       // seconds ("TIME")
  char* replyBuffer;      // status: the caller's buffer
  int32_t rounds;         // "RETRY"
  char className[260];
  int32_t errorValue;     // what LqGetError returns
  uint32_t openWaits;     // data port: "OPEN_TIMEOUT"
  HANDLE sendLock;        // data port: semaphore 1/1 around each send
  HANDLE receiveLock;     // data port: semaphore 1/1 around each receive
  volatile LONG closing;  // data port: nonzero once LqClosePort has begun
  volatile LONG users;    // the handle table's reference plus one per call inside
  // Data port: what the close needs to judge whether the printer took
  // everything that was handed to the socket.
  uint64_t handedTotal;   // bytes handed to the socket since the open
  uint64_t paceBytes;     // bytes handed since the socket first refused data
  DWORD paceStart;        // when the socket first refused data (paced != 0)
  DWORD lastHanded;       // when bytes were last handed on
  uint32_t paced;
  uint32_t lastWriteOk;   // the last write handed on everything it was given
  uint32_t sendBuffer;    // the socket's send buffer; 0 where the system reports unacknowledged bytes
};

// Process-wide state, one copy per loaded library; plain values, no locks.
struct LqProcessState {
  HINSTANCE instance;  // from LqStartup
  int32_t timeStep;    // last "TIME" read, default applied
  int32_t rounds;      // last "RETRY" read, default applied
  int32_t useIcmp;     // LqSetUseICMP, initially 1
};
extern LqProcessState g_lq;

// Windows calls reached through pointers, so that a test which links the
// library's objects can stand in for them: a timer that cannot start, a
// printer that takes data piecemeal, a local address clash. The DLL exports
// only the names of its .def, so no caller of the shipped library can change
// them.
struct LqSeams {
  decltype(&SetTimer) setTimer;
  decltype(&connect) connectSocket;  // the data port's connect
  decltype(&send) sendSocket;        // the data port's sends, and the close's probe of the printer's side
  // Bytes handed to the socket that the printer has not acknowledged yet;
  // false where the system cannot say.
  bool (*unacknowledged)(SOCKET socket, uint64_t handedTotal, uint64_t* left);
};
// The system's count of unacknowledged bytes (tcp_info_win.cpp).
bool LqUnacknowledged(SOCKET socket, uint64_t handedTotal, uint64_t* left);
extern LqSeams g_lqSeams;

// Handles are 32-bit on both targets, so records are reached through a table
// owned by the library rather than by address. 0 and -1 are never handed out.
// Allocates a zero-filled record with socket = INVALID_SOCKET; returns its
// handle and the record, or -1 (and null) when no memory or no slot is left.
LqHandle LqAllocContext(LqContext** record);
// The record of a live handle; null for 0, -1, an unknown or a closed handle.
// Only for calls that run on the thread which alone uses the handle; calls
// that other threads may close under them use LqAcquire.
LqContext* LqLookup(LqHandle handle);
// Like LqLookup, but the record stays allocated until the matching LqRelease,
// whatever close runs meanwhile on another thread.
LqContext* LqAcquire(LqHandle handle);
void LqRelease(LqContext* record);
// Begins a close: the handle stops resolving at once and the caller receives
// the table's reference (to give back with LqRelease once its socket and
// semaphores are closed). Null when the handle is not live, so a second close
// of one handle fails cleanly.
LqContext* LqDetach(LqHandle handle);
// Releases the handle; the record is freed as soon as no call is inside it
// (its socket and semaphores are the caller's to close first).
void LqFreeContext(LqHandle handle);

// Reads "TIME" and "RETRY" (and "OPEN_TIMEOUT" when asked) from
// HKCU\Software\NWD_QUAYDLL into g_lq and the record, defaults applied.
void LqReadSettings(LqContext* record, bool withOpenTimeout);

// Copies host text into the record; false for null or longer than 35 characters.
bool LqSetHost(LqContext* record, const char* host);

// The hidden-window exchange: creates a window of the registered class
// (overlapped-window style plus extraStyle, 0,0, 320 x 24, the library's
// instance, createParam as creation parameter), hides it and runs
// GetMessage/DispatchMessage with no window filter until that window is gone.
// The window procedures post no quit message. Returns true when the window
// ended the exchange itself; false when it could not be created or when the
// caller's quit message ended the exchange (the window is then destroyed and
// the quit posted again with its exit code).
bool LqRunHiddenWindow(const char* className, DWORD extraStyle, void* createParam);
