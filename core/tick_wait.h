// Waits of the core that keep the GUI thread's windows alive: every wait
// dispatches window messages as they arrive, and none of them spins.
#pragma once

#include <windows.h>

// Dispatches every pending window message of the thread.
void PumpMessages();

// Returns after at least ms milliseconds; window messages are dispatched as
// they arrive (never less often than every 500 ms) and the thread sleeps in
// between.
void TickWait(DWORD ms);

// Waits up to ms milliseconds for object to be signalled while dispatching
// window messages. Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitPumping(HANDLE object, DWORD ms);

// While one stands, every wait above ends at the deadline (a GetTickCount64
// time) at the latest: an exchange in progress then runs out at once, each
// of its waits returning as if its time were up. For work that must end by
// a given time whatever the printer does. Deadlines do not nest: the inner
// one holds until it goes, then none does.
class WaitDeadline {
 public:
  explicit WaitDeadline(ULONGLONG deadline);
  ~WaitDeadline();
  WaitDeadline(const WaitDeadline&) = delete;
  WaitDeadline& operator=(const WaitDeadline&) = delete;
};
