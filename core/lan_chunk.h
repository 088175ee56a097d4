// One chunk of a block through the network library, as the one-by-one
// exchange on the window's thread and the side-by-side workers both send
// it, so that a printer meets the same calls, waits and bounds on either
// path. What differs between them (the log, the progress line, the message
// pump) is the caller's Steps:
//   Refused(cause)          the chunk fails before its time is up
//   Waited()                a call took less than it was offered
//   Stalled(msIntoChunk)    ... and nothing, after waiting a write slice
//   BetweenCalls()          after every call
//   OutOfTime(sent, left, msIntoChunk)  the chunk's time is up
#pragma once

#include <windows.h>

#include <cstdint>

#include "net_binding.h"
#include "port_io.h"

// A printer that keeps taking a little gets this many partial calls a chunk.
constexpr int kLanWriteCallLimit = 10;

// Sends `chunk` bytes at `position` to `port`, one library piece a call.
// A printer that stops reading (a long flash erase) gets `graceMs` for the
// chunk whatever the library's own time limit: a call that waited at least
// one write slice (`sliceMs`) and took nothing is a wait, not a failure,
// while that time lasts; a call that fails sooner is a refusal or a broken
// connection and ends the chunk at once. Only between calls is the time
// looked at, since a call lasts as long as the printer keeps taking bytes.
// True when the chunk went out whole; *sent the bytes handed on either way.
template <typename Steps>
bool SendLanChunk(const NetLibraryBinding& lib, LqHandle port, const BYTE* position, uint32_t chunk,
                  ULONGLONG graceMs, DWORD sliceMs, Steps& steps, uint32_t* sent) {
  *sent = 0;
  const ULONGLONG chunkStart = GetTickCount64();
  int calls = 0;
  for (;;) {
    const uint32_t offered = chunk < kLanCallBytes ? chunk : kLanCallBytes;
    uint32_t written = 0;
    const ULONGLONG callStart = GetTickCount64();
    const int ok = lib.WritePort(port, reinterpret_cast<const char*>(position), offered, &written);
    const ULONGLONG now = GetTickCount64();
    if (written > offered) written = offered;  // never trust a count beyond what was offered
    if (ok == 1 && offered != 0 && written == 0) {
      steps.Refused("PRT_ERR_SEND(dwWriteSize != 0) && (dwWritten == 0)");
      return false;
    }
    position += written;
    chunk -= written;
    *sent += written;
    if (ok != 1) {
      if (written != 0 && ++calls >= kLanWriteCallLimit) {
        steps.Refused("PRT_ERR_SEND(dwLoop >= 10)");
        return false;
      }
      steps.Waited();
      if (written == 0 && chunk != 0) {
        if (now - callStart < sliceMs) {
          steps.Refused("PRT_ERR_SEND(dwWriteSize != 0) && (dwWritten == 0)");
          return false;
        }
        steps.Stalled(now - chunkStart);
      }
    }
    steps.BetweenCalls();
    if (chunk == 0) return true;
    if (now - chunkStart >= graceMs) {
      steps.OutOfTime(*sent, chunk, now - chunkStart);
      return false;
    }
  }
}
