#include "tick_wait.h"

namespace {

// A slice never exceeds this, so a message that does not wake the wait (one
// that was already seen but left in the queue) waits no longer than that.
constexpr DWORD kSliceMs = 500;

ULONGLONG Now() { return GetTickCount64(); }

// 0 when no deadline stands.
ULONGLONG g_deadline = 0;

// `ms` cut to what is left before the deadline.
DWORD Bounded(DWORD ms) {
  if (g_deadline == 0) return ms;
  const ULONGLONG now = Now();
  if (now >= g_deadline) return 0;
  return g_deadline - now < ms ? static_cast<DWORD>(g_deadline - now) : ms;
}

// One sleeping wait of at most kSliceMs on the thread's message queue and, if
// given, one object. MWMO_INPUTAVAILABLE also wakes for messages that were
// already in the queue when the wait began.
DWORD WaitSlice(HANDLE object, DWORD ms) {
  if (ms > kSliceMs) ms = kSliceMs;
  MSG quit;
  if (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) {
    // A quit request left for the program's loop would wake every message
    // wait at once: sleep on the object alone, messages go at slice ends.
    if (object == nullptr) {
      Sleep(ms);
      return WAIT_TIMEOUT;
    }
    return WaitForSingleObject(object, ms);
  }
  DWORD count = object ? 1 : 0;
  return MsgWaitForMultipleObjectsEx(count, object ? &object : nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The program's own message loop must still see the quit request, or
      // closing the window during an exchange would leave the program running.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void TickWait(DWORD ms) {
  ms = Bounded(ms);
  ULONGLONG start = Now();
  PumpMessages();
  for (;;) {
    ULONGLONG elapsed = Now() - start;
    if (elapsed >= ms) break;
    DWORD rc = WaitSlice(nullptr, static_cast<DWORD>(ms - elapsed));
    if (rc == WAIT_FAILED) Sleep(1);  // never spin on a broken wait
    PumpMessages();
  }
}

DWORD WaitPumping(HANDLE object, DWORD ms) {
  ms = Bounded(ms);
  ULONGLONG start = Now();
  PumpMessages();
  for (;;) {
    // Checked before the clock so that a completion at the deadline counts.
    DWORD rc = WaitForSingleObject(object, 0);
    if (rc != WAIT_TIMEOUT) return rc == WAIT_OBJECT_0 ? WAIT_OBJECT_0 : WAIT_FAILED;
    ULONGLONG elapsed = Now() - start;
    if (elapsed >= ms) return WAIT_TIMEOUT;
    rc = WaitSlice(object, static_cast<DWORD>(ms - elapsed));
    if (rc == WAIT_OBJECT_0) return WAIT_OBJECT_0;
    if (rc == WAIT_FAILED) return WAIT_FAILED;
    PumpMessages();
  }
}

WaitDeadline::WaitDeadline(ULONGLONG deadline) { g_deadline = deadline != 0 ? deadline : 1; }

WaitDeadline::~WaitDeadline() { g_deadline = 0; }
