// lanquay linked in directly, so that its seams can stand in for the Windows
// calls that a loopback printer cannot make fail on purpose.
#include "lanquay/lq_context.h"

#include <gtest/gtest.h>

#include <vector>

#include "lanquay_test_lib.h"
#include "sim_client.h"

namespace {

struct Fake {
  int timerCalls;
  int connectCalls;
  int connectFailures;  // connects that fail before the real one runs
  int connectError;
  DWORD sendPauseMs;    // refuses data for this long after each piece it took
  DWORD lastTake;
  int sendCalls;
  DWORD resetAfterMs;   // the printer's side shows a reset this long after the last data
  int ackAfterMs;       // the system counts our bytes acknowledged this long after the last data; -1 never
};
Fake g_fake;

UINT_PTR WINAPI FailingSetTimer(HWND, UINT_PTR, UINT, TIMERPROC) {
  ++g_fake.timerCalls;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return 0;
}

int WINAPI FlakyConnect(SOCKET socket, const sockaddr* address, int size) {
  if (g_fake.connectCalls++ < g_fake.connectFailures) {
    WSASetLastError(g_fake.connectError);
    return SOCKET_ERROR;
  }
  return connect(socket, address, size);
}

// A printer that takes 100 bytes, then nothing for sendPauseMs, and so on.
int WINAPI PiecemealSend(SOCKET, const char*, int size, int) {
  const DWORD now = GetTickCount();
  if (g_fake.sendCalls++ > 0 && now - g_fake.lastTake < g_fake.sendPauseMs) {
    WSASetLastError(WSAEWOULDBLOCK);
    return SOCKET_ERROR;
  }
  g_fake.lastTake = now;
  return size < 100 ? size : 100;
}

// Data goes to the printer; a probe of no bytes shows a reset from
// resetAfterMs after the last data on.
int WINAPI LateResetSend(SOCKET socket, const char* data, int size, int flags) {
  if (size > 0) {
    g_fake.lastTake = GetTickCount();
    return send(socket, data, size, flags);
  }
  if (GetTickCount() - g_fake.lastTake >= g_fake.resetAfterMs) {
    WSASetLastError(WSAECONNRESET);
    return SOCKET_ERROR;
  }
  return send(socket, data, size, flags);
}

// A system that counts unacknowledged bytes, as newer Windows does.
bool CountedAcknowledgement(SOCKET, uint64_t handedTotal, uint64_t* left) {
  const bool acknowledged = g_fake.ackAfterMs >= 0 && handedTotal > 0 &&
                            GetTickCount() - g_fake.lastTake >= static_cast<DWORD>(g_fake.ackAfterMs);
  *left = acknowledged ? 0 : handedTotal;
  return true;
}

class LanquaySeams : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = QuickLanPrinter();
    ASSERT_FALSE(host_.empty()) << "the simulator did not answer";
    g_fake = {};
    ASSERT_EQ(LqStartup(GetModuleHandleA(nullptr)), 1);
  }
  void TearDown() override {
    g_lqSeams = {SetTimer, connect, send, LqUnacknowledged};
    LqCleanup();
    SimCommand(host_ + " reset");
  }

  std::string host_;
};

}  // namespace

// The reply timer is all that bounds a status exchange with a printer that
// never answers: when it cannot be started the call fails at once instead
// of waiting for ever.
TEST_F(LanquaySeams, AFailedTimerFailsTheStatusCallPromptly) {
  ASSERT_EQ(SimCommand(SimHost(4) + " set fault never_answer"), "OK");
  SetLqSetting("TIME", 30);
  LqHandle status = LqOpenStatus(SimHost(4).c_str());
  ASSERT_NE(status, -1);
  g_lqSeams.setTimer = FailingSetTimer;
  char reply[64] = {};
  uint32_t length = 99;
  DWORD start = GetTickCount();
  EXPECT_EQ(LqGetStatus(status, reply, sizeof(reply), &length), 0);
  EXPECT_LE(MsSince(start), 2000u);
  EXPECT_EQ(g_fake.timerCalls, 1);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(LqCloseStatus(status), 1);
  SimCommand(SimHost(4) + " reset");
}

// Waiting while the printer takes nothing has no limit; a partial send that
// comes the time limit (TIME x RETRY, 1 s) or more after the previous
// progress ends the write with 0, error value 0 and the bytes handed on.
TEST_F(LanquaySeams, APartialSendAfterTheTimeLimitEndsTheWrite) {
  struct Case {
    DWORD pauseMs;
    int result;
    uint32_t sent;
  } cases[] = {{300, 1, 500}, {1500, 0, 200}};
  std::vector<char> data(500, 'x');
  for (const Case& c : cases) {
    LqHandle port = LqOpenPort(host_.c_str());
    ASSERT_NE(port, -1);
    g_fake.sendCalls = 0;
    g_fake.sendPauseMs = c.pauseMs;
    g_lqSeams.sendSocket = PiecemealSend;
    uint32_t sent = 0;
    DWORD start = GetTickCount();
    EXPECT_EQ(LqWritePort(port, data.data(), static_cast<uint32_t>(data.size()), &sent), c.result) << c.pauseMs;
    const uint32_t took = MsSince(start);
    EXPECT_EQ(sent, c.sent) << c.pauseMs;
    EXPECT_EQ(LqGetError(port), 0) << c.pauseMs;
    if (c.result == 0) {
      EXPECT_LE(took, c.pauseMs + 500) << "the write went on after the late partial send";
    }
    g_lqSeams.sendSocket = send;
    EXPECT_EQ(LqClosePort(port), 1);
  }
}

// Only a local address clash is worth another connect, after a pause; any
// other failure ends the open at once.
TEST_F(LanquaySeams, OnlyAnAddressInUseIsRetried) {
  SetLqSetting("RETRY", 3);
  struct Case {
    int error;
    bool opens;
    int connects;
  } cases[] = {{WSAEADDRINUSE, true, 3}, {WSAECONNREFUSED, false, 1}};
  g_lqSeams.connectSocket = FlakyConnect;
  for (const Case& c : cases) {
    g_fake.connectCalls = 0;
    g_fake.connectFailures = 2;
    g_fake.connectError = c.error;
    DWORD start = GetTickCount();
    LqHandle port = LqOpenPort(host_.c_str());
    const uint32_t took = MsSince(start);
    EXPECT_EQ(port != -1, c.opens) << c.error;
    EXPECT_EQ(g_fake.connectCalls, c.connects) << c.error;
    if (c.opens) {
      EXPECT_GE(took, 900u) << "two pauses before the third connect";
      EXPECT_EQ(LqClosePort(port), 1);
    }
  }
}

// Where the system counts unacknowledged bytes the close waits for 0 (a
// printer closed before that lost them); elsewhere it settles, to see a late reset.
TEST_F(LanquaySeams, CloseWaitsForThePrinterToTakeEverything) {
  struct Case {
    const char* fault;
    DWORD resetAfterMs;
    int ackAfterMs;  // no count of acknowledged bytes when 0
    int closed;
    uint32_t minMs, maxMs;
  } cases[] = {
      {"none", 20, 0, 0, 0, 300},              // reset 20 ms after the last send
      {"none", 60000, 300, 1, 280, 1000},      // acknowledged after 300 ms
      {"close_after", 60000, -1, 0, 0, 1000},  // closed, its count never reaches 0
  };
  const std::vector<char> data(100, 'x');
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host_ + " reset"), "OK");
    ASSERT_EQ(SimCommand(host_ + " set fault " + c.fault), "OK");
    ASSERT_EQ(SimCommand(host_ + " set arg 100"), "OK");
    g_fake.resetAfterMs = c.resetAfterMs;
    g_fake.ackAfterMs = c.ackAfterMs;
    g_lqSeams.sendSocket = LateResetSend;
    if (c.ackAfterMs != 0) g_lqSeams.unacknowledged = CountedAcknowledgement;
    LqHandle port = LqOpenPort(host_.c_str());
    ASSERT_NE(port, -1);
    uint32_t sent = 0;
    ASSERT_EQ(LqWritePort(port, data.data(), static_cast<uint32_t>(data.size()), &sent), 1);
    const DWORD start = GetTickCount();
    EXPECT_EQ(LqClosePort(port), c.closed) << c.fault << " " << c.ackAfterMs;
    EXPECT_GE(MsSince(start), c.minMs) << c.fault << " " << c.ackAfterMs;
    EXPECT_LE(MsSince(start), c.maxMs) << c.fault << " " << c.ackAfterMs;
    g_lqSeams = {SetTimer, connect, send, LqUnacknowledged};
  }
}
