// lanquay's status channel: the device-ID exchange on port 9200.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "lanquay_test_lib.h"
#include "sim_client.h"

namespace {

class LanquayStatus : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = SimHost(4);
    ASSERT_EQ(SimCommand(host_ + " reset"), "OK");
    SetLqSetting("TIME", 1);
    SetLqSetting("RETRY", 1);
  }
  void TearDown() override { SimCommand(host_ + " reset"); }

  std::string host_;
};

bool QuitPending() {
  MSG msg;
  return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

}  // namespace

// Reply size and capacity: the first read takes at most 256 bytes, the
// caller's capacity cuts it further, and nothing beyond is written.
TEST_F(LanquayStatus, RepliesAreCutToTheFirstReadAndTheCapacity) {
  LanquayLib& lq = Lq();
  struct Case {
    int replySize;
    int32_t capacity;
    uint32_t minLength;
    uint32_t maxLength;
  } cases[] = {{300, 512, 5, 256}, {20, 10, 10, 10}, {20, 512, 20, 20}, {200, 200, 200, 200}, {20, 0, 0, 0},
               {20, -5, 0, 0}};
  for (const Case& c : cases) {
    std::string what = "reply " + std::to_string(c.replySize) + " capacity " + std::to_string(c.capacity);
    ASSERT_EQ(SimCommand(host_ + " set devid_size " + std::to_string(c.replySize)), "OK");
    LqHandle status = lq.openStatus(host_.c_str());
    ASSERT_NE(status, -1) << what;
    char buffer[600];
    memset(buffer, 0x5A, sizeof(buffer));
    uint32_t length = 9999;
    EXPECT_EQ(lq.getDeviceId(status, buffer, c.capacity, &length), 1) << what;
    EXPECT_EQ(lq.getError(status), 1) << what;
    EXPECT_GE(length, c.minLength) << what;
    EXPECT_LE(length, c.maxLength) << what;
    if (length >= 5) {
      EXPECT_EQ(std::string(buffer + 4, 1), " ") << what << ": the length header comes first";
      EXPECT_EQ(std::string(buffer + 5, 4), "MFG:") << what;
    }
    size_t stored = length <= sizeof(buffer) ? length : 0;
    size_t untouched = 0;
    for (size_t i = stored; i < sizeof(buffer); ++i) untouched += buffer[i] == 0x5A;
    EXPECT_EQ(untouched, sizeof(buffer) - stored) << what << ": bytes written past the reply";
    EXPECT_NE(lq.closeStatus(status), 0) << what;
  }
  std::string asked = SimCommand(host_ + " received_cmd");
  EXPECT_NE(asked.find("4745545f4445564943455f494420200a"), std::string::npos) << "the 16-byte request line: " << asked;
}

// The two export names are one function: same results, same handle.
TEST_F(LanquayStatus, GetStatusAndGetDeviceIdAgree) {
  LanquayLib& lq = Lq();
  EXPECT_EQ(reinterpret_cast<void*>(lq.getStatus), reinterpret_cast<void*>(lq.getDeviceId));
  LqHandle status = lq.openStatus(host_.c_str());
  ASSERT_NE(status, -1);
  char first[512] = {};
  char second[512] = {};
  uint32_t firstLength = 0;
  uint32_t secondLength = 0;
  EXPECT_EQ(lq.getStatus(status, first, 512, &firstLength), 1);
  EXPECT_EQ(lq.getDeviceId(status, second, 512, &secondLength), 1) << "a handle serves several exchanges";
  EXPECT_EQ(firstLength, secondLength);
  EXPECT_EQ(std::string(first, firstLength), std::string(second, secondLength));
  EXPECT_NE(lq.closeStatus(status), 0);
}

// A printer that never answers, one that closes at once and an address
// where nothing listens; none leaves a quit message for the caller's loop.
TEST_F(LanquayStatus, SilentClosingAndAbsentPrinters) {
  LanquayLib& lq = Lq();
  struct Case {
    const char* what;
    const char* fault;
    int hostIndex;
    int expected;
    uint32_t minMs;
    uint32_t maxMs;
  } cases[] = {{"never answers", "never_answer", 4, 0, 950, 1800},
               {"closes at once", "close_at_once", 4, 1, 0, 800},
               {"nothing listens", "none", 9, 0, 0, 800}};
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host_ + " set fault " + c.fault), "OK");
    LqHandle status = lq.openStatus(SimHost(c.hostIndex).c_str());
    ASSERT_NE(status, -1) << c.what;
    char buffer[64];
    memset(buffer, 0x5A, sizeof(buffer));
    uint32_t length = 9999;
    DWORD start = GetTickCount();
    EXPECT_EQ(lq.getDeviceId(status, buffer, sizeof(buffer), &length), c.expected) << c.what;
    uint32_t took = MsSince(start);
    EXPECT_GE(took, c.minMs) << c.what;
    EXPECT_LE(took, c.maxMs) << c.what;
    EXPECT_EQ(lq.getError(status), c.expected) << c.what;
    if (c.expected == 1) {
      EXPECT_EQ(length, 0u) << c.what;
    }
    EXPECT_FALSE(QuitPending()) << c.what << ": a quit message was left in the caller's queue";
    EXPECT_NE(lq.closeStatus(status), 0) << c.what;
  }
}

// Two handles, even for one printer, are open at once with classes of their
// own; a failed exchange after a good one does not report the old success.
TEST_F(LanquayStatus, TwoHandlesOpenAtOnce) {
  LanquayLib& lq = Lq();
  LqHandle first = lq.openStatus(host_.c_str());
  LqHandle second = lq.openStatus(host_.c_str());
  LqHandle other = lq.openStatus(SimHost(3).c_str());
  ASSERT_NE(first, -1);
  ASSERT_NE(second, -1);
  ASSERT_NE(other, -1);
  EXPECT_NE(first, second);
  char buffer[512];
  uint32_t length = 0;
  EXPECT_EQ(lq.getDeviceId(second, buffer, 512, &length), 1);
  EXPECT_EQ(lq.getDeviceId(first, buffer, 512, &length), 1);
  EXPECT_EQ(lq.getDeviceId(other, buffer, 512, &length), 1);
  ASSERT_EQ(SimCommand(host_ + " set fault never_answer"), "OK");
  EXPECT_EQ(lq.getDeviceId(first, buffer, 512, &length), 0);
  EXPECT_EQ(lq.getError(first), 0);
  EXPECT_EQ(lq.getDeviceId(first, nullptr, 512, &length), 0) << "no buffer";
  EXPECT_NE(lq.closeStatus(first), 0);
  EXPECT_NE(lq.closeStatus(second), 0);
  EXPECT_NE(lq.closeStatus(other), 0);
}

namespace {

// A caller's loop for about ms milliseconds after the call returned: every
// message is dispatched; the exit code of a quit met on the way is returned
// (-1 for none). The quit is taken whatever the filter, so it cannot be left.
int PumpAndTakeQuit(DWORD ms) {
  int quitCode = -1;
  const DWORD start = GetTickCount();
  while (MsSince(start) < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT)
        quitCode = static_cast<int>(msg.wParam);
      else
        DispatchMessageA(&msg);
    }
    Sleep(20);
  }
  return quitCode;
}

// A window of the caller's, whose WM_APP runs an action during a wait.
struct CallerWindow {
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
      auto* action = reinterpret_cast<std::function<void()>*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (action) (*action)();
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  explicit CallerWindow(std::function<void()> action) : action_(std::move(action)) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "LqTestCaller";
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, "LqTestCaller", "", 0, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&action_));
  }
  ~CallerWindow() { DestroyWindow(window_); }
  void RunDuringNextWait() { PostMessageA(window_, WM_APP, 0, 0); }

  std::function<void()> action_;
  HWND window_ = nullptr;
};

}  // namespace

// The caller's quit message ends an exchange and survives with its exit
// code, whether it waited before the call or came from the caller's window
// during a nested exchange; no exchange writes after it returned. The
// printer that answers splits its reply over 600 ms, so a window that lived
// on would still be writing.
TEST_F(LanquayStatus, TheCallersQuitEndsExchangesAndSurvives) {
  LanquayLib& lq = Lq();
  const std::string other = SimHost(3);
  ASSERT_EQ(SimCommand(other + " reset"), "OK");
  ASSERT_EQ(SimCommand(other + " set fault split"), "OK");
  ASSERT_EQ(SimCommand(other + " set arg 300"), "OK");
  ASSERT_EQ(SimCommand(host_ + " set fault never_answer"), "OK");
  LqHandle silent = lq.openStatus(host_.c_str());
  LqHandle answering = lq.openStatus(other.c_str());
  ASSERT_NE(silent, -1);
  ASSERT_NE(answering, -1);
  char buffer[64];
  uint32_t length = 9999;
  // Runs the exchange, then the caller's loop; gives the quit's exit code.
  auto exchangeLeavesBufferAlone = [&](const std::function<void()>& run, const char* what) {
    memset(buffer, 0x5A, sizeof buffer);
    run();
    const std::string atReturn(buffer, sizeof buffer);
    const int quitCode = PumpAndTakeQuit(900);
    EXPECT_EQ(std::string(buffer, sizeof buffer), atReturn) << what << ": written after the call returned";
    return quitCode;
  };

  PostQuitMessage(7);
  EXPECT_EQ(exchangeLeavesBufferAlone([&] { lq.getDeviceId(answering, buffer, sizeof buffer, &length); }, "queued"), 7)
      << "the caller's quit was swallowed";

  char silentBuffer[16];
  CallerWindow caller([&] {
    PostQuitMessage(9);
    lq.getDeviceId(answering, buffer, sizeof buffer, &length);
  });
  const int quitCode = exchangeLeavesBufferAlone(
      [&] {
        caller.RunDuringNextWait();
        const DWORD start = GetTickCount();
        EXPECT_EQ(lq.getDeviceId(silent, silentBuffer, sizeof silentBuffer, &length), 0);
        EXPECT_LT(MsSince(start), 900u) << "the quit did not end the outer exchange";
      },
      "nested");
  EXPECT_EQ(quitCode, 9) << "the caller's quit was swallowed";
  EXPECT_NE(lq.closeStatus(silent), 0);
  EXPECT_NE(lq.closeStatus(answering), 0);
}

// The caller's window closes the handle while its own exchange waits: the
// call fails and nothing reaches the freed record.
TEST_F(LanquayStatus, HandleClosedDuringItsOwnExchange) {
  LanquayLib& lq = Lq();
  LqHandle status = lq.openStatus(host_.c_str());
  ASSERT_NE(status, -1);
  CallerWindow caller([&] { lq.closeStatus(status); });
  caller.RunDuringNextWait();
  char buffer[64];
  uint32_t length = 9999;
  EXPECT_EQ(lq.getDeviceId(status, buffer, sizeof buffer, &length), 0);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(lq.getError(status), 0);
  EXPECT_EQ(lq.closeStatus(status), 0) << "closed already";
  // The class of the closed handle is gone too: the same host opens again.
  LqHandle again = lq.openStatus(host_.c_str());
  ASSERT_NE(again, -1);
  EXPECT_EQ(lq.getDeviceId(again, buffer, sizeof buffer, &length), 1);
  EXPECT_NE(lq.closeStatus(again), 0);
  EXPECT_FALSE(QuitPending());
}

// Hostile printers: endless bytes, a reply far longer than any buffer, one
// byte a second. The exchange still takes only the first piece, ends well
// inside the reply wait and writes nothing past that piece.
TEST_F(LanquayStatus, HostileRepliesStayInsideTheWaitAndTheBuffer) {
  LanquayLib& lq = Lq();
  struct Case {
    const char* fault;
    int arg;
  } cases[] = {{"endless", 0}, {"long", 100000}, {"trickle", 1000}};
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host_ + " set fault " + c.fault), "OK");
    ASSERT_EQ(SimCommand(host_ + " set arg " + std::to_string(c.arg)), "OK");
    LqHandle status = lq.openStatus(host_.c_str());
    ASSERT_NE(status, -1) << c.fault;
    char buffer[1024];
    memset(buffer, 0x5A, sizeof(buffer));
    uint32_t length = 9999;
    const DWORD start = GetTickCount();
    EXPECT_EQ(lq.getDeviceId(status, buffer, 512, &length), 1) << c.fault;
    EXPECT_LT(MsSince(start), 900u) << c.fault << ": the first piece ends the exchange";
    EXPECT_GE(length, 1u) << c.fault;
    EXPECT_LE(length, 256u) << c.fault;
    size_t untouched = 0;
    for (size_t i = length <= 256 ? length : 0; i < sizeof(buffer); ++i) untouched += buffer[i] == 0x5A;
    EXPECT_EQ(untouched, sizeof(buffer) - (length <= 256 ? length : 0)) << c.fault << ": written past the reply";
    EXPECT_NE(lq.closeStatus(status), 0) << c.fault;
    EXPECT_FALSE(QuitPending()) << c.fault;
  }
}
