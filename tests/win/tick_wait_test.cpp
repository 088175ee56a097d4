// The waits of the core: at least the time asked, window messages handled
// while waiting, and the processor left alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "core/tick_wait.h"
#include "core_test_support.h"

namespace {

struct Seen {
  int messages = 0;
  ULONGLONG lastAt = 0;
};
Seen g_seen;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP || msg == WM_TIMER) {
    ++g_seen.messages;
    g_seen.lastAt = GetTickCount64();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND MakeWindow() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KitTickWaitTest";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"KitTickWaitTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

TEST(TickWait, WaitsAtLeastTheTimeAskedAndSleeps) {
  struct Case {
    DWORD ms;
  } cases[] = {{0}, {3}, {50}, {499}, {501}, {1700}};
  for (const Case& c : cases) {
    ULONGLONG start = GetTickCount64();
    TickWait(c.ms);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, c.ms) << "asked " << c.ms;
    EXPECT_LT(took, c.ms + 200u) << "asked " << c.ms;
  }
  double cpu = ProcessCpuMs();
  ULONGLONG start = GetTickCount64();
  TickWait(2000);
  double wall = static_cast<double>(GetTickCount64() - start);
  cpu = ProcessCpuMs() - cpu;
  printf("TickWait(2000): wall %.0f ms, CPU %.1f ms\n", wall, cpu);
  EXPECT_LT(cpu, 0.25 * wall);
}

TEST(TickWait, MessagesAreDispatchedWhileWaiting) {
  HWND hwnd = MakeWindow();
  ASSERT_NE(hwnd, nullptr);
  g_seen = Seen();

  // Posted before the wait: handled at once.
  PostMessageW(hwnd, WM_APP, 0, 0);
  ULONGLONG start = GetTickCount64();
  TickWait(1);
  EXPECT_EQ(g_seen.messages, 1);

  // Posted from another thread in the middle of a long wait: handled when it
  // arrives, not when the wait ends.
  g_seen = Seen();
  start = GetTickCount64();
  std::thread poster([hwnd] {
    Sleep(300);
    PostMessageW(hwnd, WM_APP, 0, 0);
  });
  TickWait(1500);
  poster.join();
  EXPECT_EQ(g_seen.messages, 1);
  EXPECT_LT(g_seen.lastAt - start, 800u) << "the message waited for the end of the wait";

  // A timer ticks throughout the wait.
  g_seen = Seen();
  SetTimer(hwnd, 1, 100, nullptr);
  TickWait(1200);
  KillTimer(hwnd, 1);
  EXPECT_GE(g_seen.messages, 5);
  DestroyWindow(hwnd);
}

TEST(TickWait, WaitPumpingReturnsOnTheObjectOrAtTheDeadline) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(WaitPumping(event, 700), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(GetTickCount64() - start, 700u);

  std::thread setter([event] {
    Sleep(200);
    SetEvent(event);
  });
  start = GetTickCount64();
  EXPECT_EQ(WaitPumping(event, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_LT(GetTickCount64() - start, 1000u);
  setter.join();
  EXPECT_EQ(WaitPumping(event, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "already signalled";
  CloseHandle(event);
}

}  // namespace
