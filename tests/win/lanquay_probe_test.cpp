// Job cancel, connect probe and the search handle's life, on loopback
// addresses only (the simulator's printers and an address where nothing
// listens). Anything that broadcasts or pings runs in the namespace test.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "lanquay_search_test_lib.h"
#include "sim_client.h"

namespace {

LanquaySearchLib& Api() { return LqSearchLib(); }

class LanquayProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Api().sendCancel, nullptr);
    // One second for the printer's answer keeps the unanswered cancel short.
    SetLqSetting("TIME", 1);
    SetLqSetting("RETRY", 1);
  }
  void TearDown() override {
    SetLqSetting("TIME", -1);
    SetLqSetting("RETRY", -1);
  }
  // No quit message may be left for the caller's own loop.
  static bool QuitLeftInQueue() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
  }
};

// SOFT_RESET and QUIT lines, 16 bytes each, as the simulator shows them.
std::string CancelHex() {
  return "534f46545f524553455420202020200a"
         "515549542020202020202020202020" "0a";
}

}  // namespace

TEST_F(LanquayProbe, CancelPutsExactly32BytesOnTheCommandPort) {
  const std::string host = SimHost(2);
  ASSERT_EQ(SimCommand(host + " reset"), "OK");
  const DWORD start = GetTickCount();
  EXPECT_EQ(Api().sendCancel(host.c_str()), 1);
  const DWORD took = GetTickCount() - start;
  // The simulator never answers the reset line: the wait ends at TIME x RETRY.
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, 4000u);
  std::string got = SimCommand(host + " received_cmd");
  // The simulator records asynchronously; give it a moment.
  for (int i = 0; i < 20 && got.size() < 3 + 64; ++i) {
    Sleep(50);
    got = SimCommand(host + " received_cmd");
  }
  EXPECT_EQ(got, "OK " + CancelHex());
}

TEST_F(LanquayProbe, CancelOutcomes) {
  const std::string closing = SimHost(3);
  ASSERT_EQ(SimCommand(closing + " reset"), "OK");
  ASSERT_EQ(SimCommand(closing + " set fault close_at_once"), "OK");
  struct Case {
    const char* name;
    std::string host;
    int expect;
    DWORD maxMs;
  } cases[] = {
      {"printer closes at once", closing, 1, 3000},
      {"nothing listens", SimHost(9), 0, 3000},
      {"not a dotted address", "printer-one", 0, 500},
      {"longer than the host field", std::string(40, '1'), 0, 500},
  };
  for (const Case& c : cases) {
    const DWORD start = GetTickCount();
    EXPECT_EQ(Api().sendCancel(c.host.c_str()), c.expect) << c.name;
    EXPECT_LT(GetTickCount() - start, c.maxMs) << c.name;
  }
  EXPECT_EQ(Api().sendCancel(nullptr), 0);
  SimCommand(closing + " reset");
}

TEST_F(LanquayProbe, ConnectProbeCountsARefusalAsAnAnswer) {
  // Nothing listens on port 80 of the simulator's addresses.
  const std::string hosts[] = {SimHost(9), SimHost(2)};
  for (const std::string& host : hosts) {
    const DWORD start = GetTickCount();
    EXPECT_EQ(Api().sendIcmpAsync(host.c_str()), 1) << host;
    EXPECT_LT(GetTickCount() - start, 1500u) << host;
    EXPECT_FALSE(QuitLeftInQueue()) << host;
  }
  EXPECT_EQ(Api().sendIcmpAsync(nullptr), 0);
  EXPECT_EQ(Api().sendIcmpAsync(std::string(40, '1').c_str()), 0);
}

TEST_F(LanquayProbe, IcmpFlagChangesNothing) {
  EXPECT_EQ(Api().setUseIcmp(0), 1);
  EXPECT_EQ(Api().sendIcmpAsync(SimHost(9).c_str()), 1);
  EXPECT_EQ(Api().setUseIcmp(1), 1);
  EXPECT_EQ(Api().sendIcmp(nullptr), 0);
}

TEST_F(LanquayProbe, SearchHandleLife) {
  const LqHandle handle = Api().openSearch();
  ASSERT_GT(handle, 0);
  EXPECT_EQ(Api().getError(handle), 0);
  EXPECT_EQ(Api().closeSearch(handle), 1);
  EXPECT_EQ(Api().closeSearch(handle), 0) << "a closed handle";
  EXPECT_EQ(Api().closeSearch(0), 0);
  LqSearchEntry entries[4] = {};
  uint32_t count = 7;
  EXPECT_EQ(Api().sendSearch(0, entries, 4, 1, 0, &count), 0);
  EXPECT_EQ(Api().sendSearch(handle, entries, 4, 1, 0, &count), 0) << "a closed handle";
  EXPECT_EQ(Api().sendSearchDhcp(0, entries, 1, 1, &count), 0);
  EXPECT_EQ(count, 7u) << "refused calls leave the count alone";
  const LqHandle other = Api().openSearch();
  ASSERT_GT(other, 0);
  EXPECT_EQ(Api().sendSearch(other, entries, 4, 1, 0, nullptr), 0) << "no count pointer";
  EXPECT_EQ(Api().sendSearchDhcp(other, nullptr, 1, 1, &count), 0) << "no entries";
  EXPECT_EQ(Api().closeSearch(other), 1);
}
