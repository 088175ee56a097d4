// Port input and output under the command exchange: open and close the
// selected port, check that the printer can take data, send a block in
// chunks while driving the progress dialog, receive a reply by the
// completion rule of its command kind. USB, COM and LPT are Windows files
// used with overlapped I/O; LAN goes through the bound network library.
#pragma once

#include <windows.h>

#include <cstdint>

#include "printer_connection.h"
#include "tick_wait.h"

// Controls of the progress dialog that a firmware send writes to.
constexpr int kIdcProgressIcon = 114;
constexpr int kIdcProgressMessage = 1100;
constexpr int kIdcProgressBytes = 1101;
constexpr int kIdcProgressBar = 1102;
constexpr int kIdcProgressWaitLine = 1105;

// Chunk sizes of one write and the wait units of a chunk.
constexpr uint32_t kChunkBytesFile = 65536;  // USB, LPT and LAN
constexpr uint32_t kChunkBytesCom = 8192;
constexpr DWORD kWriteSliceMs = 2000;
constexpr DWORD kReadSliceMs = 5000;
constexpr uint32_t kMinWriteWaitUnits = 40;
constexpr uint32_t kBytesPerWaitUnit = 100000;
// The LAN drain of stale input before a command ends after this long or this
// many bytes, whatever still arrives: a device that talks unasked must not
// hold the command back for ever.
constexpr DWORD kDrainLimitMs = 3000;
constexpr uint32_t kDrainLimitBytes = 1024;
// What one write call of the network library is offered: one of its pieces,
// so that a chunk's time is looked at between calls.
constexpr uint32_t kLanCallBytes = 16384;

// The device queries that Wine cannot answer, behind function pointers so
// that tests can stand in for the device. The defaults call Windows.
struct PortIoSeams {
  // Serial status: the error word and COMSTAT (fDsrHold, cbInQue).
  BOOL(WINAPI* clearCommError)(HANDLE file, LPDWORD errors, LPCOMSTAT status);
  // The parallel-port status query (IOCTL_PAR_QUERY_INFORMATION).
  BOOL(WINAPI* deviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED overlapped);
  // How long the LPT status query may stay pending before the printer counts
  // as not ready. A port that never answers must not hang the program.
  DWORD lptStatusLimitMs;
  // One wait unit of a pending write (kWriteSliceMs); tests shorten it to
  // reach the wait limit quickly.
  DWORD writeSliceMs;
  // Cancels the thread's pending requests on a port (CancelIo); tests stand
  // in a driver that never ends a cancelled request. Null means CancelIo.
  BOOL(WINAPI* cancelIo)(HANDLE file);
  // Applies serial settings (SetCommState) at open and close; tests read the
  // settings the core asks for, which the platform may not report back. Null
  // means SetCommState.
  BOOL(WINAPI* setCommState)(HANDLE file, LPDCB settings);
  // Reads the port's serial settings (GetCommState) at open; tests make it
  // fail. Null means GetCommState.
  BOOL(WINAPI* getCommState)(HANDLE file, LPDCB settings);
};
extern PortIoSeams g_portIoSeams;
constexpr DWORD kLptStatusLimitMs = 10000;

// The seams as the programs use them: the Windows calls and the real limits.
PortIoSeams DefaultPortIoSeams();

// The port's own serial settings, saved at each COM open and put back at close.
extern DCB g_savedComState;

// Opens the connection's port. Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE PortOpen(const PrinterConnection* connection);

// Closes a handle from PortOpen (the selected port kind tells how). Returns 0,
// or PRT_ERR_SEND when a LAN printer dropped the connection before the close.
int32_t PortClose(HANDLE handle);

// 1 when the printer can take data, else 0.
int32_t PrinterCheck(const PrinterConnection* connection);

// Sends length bytes in chunks. Kinds 14 and 15 drive the progress dialog.
// Returns 0 or PRT_ERR_SEND.
int32_t PrinterSendData(uint16_t kind, const PrinterConnection* connection, const BYTE* data, uint32_t length);
// The bytes the last PrinterSendData handed on: what a run report shows of a
// write that broke off.
extern uint32_t g_sentBytes;

// Receives a reply of the kind into buffer; *inOutLength gives the capacity
// and returns the bytes received. Returns 0, PRT_ERR_RECEIVE or
// PRT_ERR_NOREPLY.
int32_t PrinterReceiveData(uint16_t kind, const PrinterConnection* connection, BYTE* buffer, uint32_t* inOutLength);
