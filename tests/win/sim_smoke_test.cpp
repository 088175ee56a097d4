// The test rig itself: the simulated COM printer answers through Wine's
// serial layer, and the LAN printers through Winsock.
#include <winsock2.h>

#include <gtest/gtest.h>

#include "sim_client.h"

TEST(SimulatorRig, ComPortAnswersReadFix) {
  ASSERT_EQ(SimCommand("com reset"), "OK");
  HANDLE h = CreateFileW(kSimComPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  const char cmd[] = "\x1d" "eREADFIX";
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, cmd, 9, &n, nullptr));
  Sleep(500);
  COMSTAT stat = {};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(h, &errors, &stat));
  EXPECT_GT(stat.cbInQue, 2u);
  char reply[256] = {};
  ASSERT_TRUE(ReadFile(h, reply, stat.cbInQue, &n, nullptr));
  EXPECT_EQ(reply[0], '7');
  EXPECT_EQ(reply[1], '`');
  CloseHandle(h);
  EXPECT_EQ(SimReceived("com").size(), 9u);
}
