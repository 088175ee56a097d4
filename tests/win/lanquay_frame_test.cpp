// lanquay's frame: the export table as the loader sees it, handle checks,
// the registry time-outs and the start of Windows Sockets.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "lanquay_test_lib.h"
#include "sim_client.h"

namespace {

struct ExportCase {
  int ordinal;
  const char* name;
};

constexpr ExportCase kExports[] = {
    {1, "LqStartup"},          {2, "LqCleanup"},      {3, "LqOpenPort"},        {4, "LqReadPort"},
    {5, "LqWritePort_Async"},  {6, "LqClosePort"},    {7, "LqOpenStatus"},      {8, "LqCloseStatus"},
    {9, "LqGetStatus"},        {10, "LqGetDeviceID"}, {11, "LqOpenSearch"},     {12, "LqCloseSearch"},
    {13, "LqSendSearch"},      {14, "LqGetError"},    {15, "LqSendCancel"},     {16, "LqSetUseICMP"},
    {17, "LqSendICMP_Async"},  {18, "LqRecvPort"},    {19, "LqWritePort"},      {20, "LqSendICMP"},
    {21, "LqSendSearch_DHCPreq"},
};

FARPROC ByOrdinal(int ordinal) {
  return GetProcAddress(Lq().module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal)));
}

}  // namespace

TEST(LanquayFrame, EveryExportResolvesByNameAndOrdinal) {
  ASSERT_NE(Lq().module, nullptr);
  for (const ExportCase& c : kExports) {
    FARPROC byName = GetProcAddress(Lq().module, c.name);
    FARPROC byOrdinal = ByOrdinal(c.ordinal);
    EXPECT_NE(byName, nullptr) << c.name;
    EXPECT_EQ(reinterpret_cast<void*>(byName), reinterpret_cast<void*>(byOrdinal))
        << c.name << " by name vs ordinal " << c.ordinal;
  }
  EXPECT_EQ(ByOrdinal(22), nullptr) << "no export beyond ordinal 21";
  // Two names, one entry point.
  EXPECT_EQ(reinterpret_cast<void*>(ByOrdinal(9)), reinterpret_cast<void*>(ByOrdinal(10)));
}

// Handle 0, -1, a value never handed out and a closed handle are all
// refused alike; counts are left untouched because nothing ran.
TEST(LanquayFrame, UnknownAndClosedHandlesAreRefused) {
  LanquayLib& lq = Lq();
  ASSERT_EQ(SimCommand(SimHost(2) + " reset"), "OK");
  LqHandle closedPort = lq.openPort(SimHost(2).c_str());
  ASSERT_NE(closedPort, -1);
  ASSERT_NE(closedPort, 0);
  EXPECT_EQ(lq.closePort(closedPort), 1);
  LqHandle closedStatus = lq.openStatus(SimHost(2).c_str());
  ASSERT_NE(closedStatus, -1);
  EXPECT_NE(lq.closeStatus(closedStatus), 0);

  struct Case {
    const char* what;
    LqHandle handle;
  } cases[] = {{"zero", 0}, {"minus one", -1}, {"never issued", 0x3FFFFFF1}, {"closed port", closedPort},
               {"closed status", closedStatus}};
  for (const Case& c : cases) {
    char buffer[16] = "untouched";
    int32_t count = 77;
    uint32_t sent = 77;
    uint32_t length = 77;
    EXPECT_EQ(lq.writePort(c.handle, buffer, 4, &sent), 0) << c.what;
    EXPECT_EQ(lq.writePortAsync(c.handle, buffer, 4, &sent), 0) << c.what;
    EXPECT_EQ(lq.readPort(c.handle, buffer, sizeof(buffer), &count), 0) << c.what;
    EXPECT_EQ(lq.recvPort(c.handle, buffer, sizeof(buffer), &count), 0) << c.what;
    EXPECT_EQ(lq.getDeviceId(c.handle, buffer, sizeof(buffer), &length), 0) << c.what;
    EXPECT_EQ(lq.getStatus(c.handle, buffer, sizeof(buffer), &length), 0) << c.what;
    EXPECT_EQ(lq.getError(c.handle), 0) << c.what;
    EXPECT_EQ(lq.closePort(c.handle), 0) << c.what;
    EXPECT_EQ(lq.closeStatus(c.handle), 0) << c.what;
    EXPECT_EQ(count, 77) << c.what;
    EXPECT_EQ(sent, 77u) << c.what;
    EXPECT_EQ(length, 77u) << c.what;
    EXPECT_STREQ(buffer, "untouched") << c.what;
  }
}

// Handles from threads that open and close at once stay unique while open,
// and a closed value is not handed out again at once.
TEST(LanquayFrame, HandlesFromConcurrentThreadsStayDistinct) {
  LanquayLib& lq = Lq();
  constexpr int kRounds = 150;
  std::vector<LqHandle> seen[2];
  int failures[2] = {0, 0};
  auto worker = [&](int index) {
    for (int i = 0; i < kRounds; ++i) {
      LqHandle a = lq.openStatus("127.0.0.1");
      LqHandle b = lq.openStatus("127.0.0.1");
      if (a == -1 || b == -1 || a == 0 || b == 0 || a == b) ++failures[index];
      seen[index].push_back(a);
      seen[index].push_back(b);
      if (lq.closeStatus(a) == 0) ++failures[index];
      if (lq.closeStatus(b) == 0) ++failures[index];
    }
  };
  std::thread first(worker, 0);
  std::thread second(worker, 1);
  first.join();
  second.join();
  EXPECT_EQ(failures[0], 0);
  EXPECT_EQ(failures[1], 0);
  std::set<LqHandle> all(seen[0].begin(), seen[0].end());
  all.insert(seen[1].begin(), seen[1].end());
  EXPECT_EQ(all.size(), seen[0].size() + seen[1].size()) << "a handle value came twice";
}

// The time limit L = TIME x RETRY seconds shows in how long a read waits
// for data that never comes; 0, a missing value and a value of the wrong
// size all take the default (RETRY 2).
TEST(LanquayFrame, RegistryTimeOutsApplyAtEveryOpen) {
  LanquayLib& lq = Lq();
  ASSERT_EQ(SimCommand(SimHost(3) + " reset"), "OK");
  struct Case {
    const char* what;
    int64_t time;
    int64_t retry;  // -1 missing, -2 written as 8 bytes
    uint32_t expectedMs;
  } cases[] = {{"RETRY 1", 1, 1, 1000}, {"RETRY 0", 1, 0, 2000}, {"RETRY missing", 1, -1, 2000},
               {"RETRY 8 bytes", 1, -2, 2000}, {"TIME 0", 0, 1, 4000}};
  for (const Case& c : cases) {
    SetLqSetting("TIME", c.time);
    if (c.retry == -2) {
      SetLqSettingQword("RETRY", 1);
    } else {
      SetLqSetting("RETRY", c.retry);
    }
    LqHandle port = lq.openPort(SimHost(3).c_str());
    ASSERT_NE(port, -1) << c.what;
    // The open took its copy: a change now must not reach this handle.
    SetLqSetting("RETRY", 5);
    char buffer[64];
    int32_t received = -1;
    DWORD start = GetTickCount();
    EXPECT_EQ(lq.readPort(port, buffer, sizeof(buffer), &received), 1) << c.what;
    uint32_t took = MsSince(start);
    EXPECT_EQ(received, 0) << c.what;
    EXPECT_GE(took + 50, c.expectedMs) << c.what << ": waited " << took << " ms, expected " << c.expectedMs;
    EXPECT_LE(took, c.expectedMs + 700) << c.what << ": waited " << took << " ms, expected " << c.expectedMs;
    EXPECT_EQ(lq.closePort(port), 1) << c.what;
  }
  SetLqSetting("TIME", 1);
  SetLqSetting("RETRY", 1);
}

// A printer that takes no connection at all (its queue of pending
// connections is full, so the request goes unanswered): the open waits the
// whole OPEN_TIMEOUT, no less, and then fails.
TEST(LanquayFrame, OpenToAPrinterThatNeverAnswersWaitsTheWholeOpenTimeout) {
  LanquayLib& lq = Lq();
  SetLqSetting("TIME", 1);
  SetLqSetting("RETRY", 1);
  const std::string host = SimHost(8);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(9100);
  address.sin_addr.s_addr = inet_addr(host.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << WSAGetLastError();
  ASSERT_EQ(listen(listener, 0), 0);
  // Fill the queue; the platform then drops further requests unanswered.
  std::vector<SOCKET> fillers;
  for (int i = 0; i < 4; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(s);
  }
  Sleep(200);
  for (int64_t waits : {1, 2}) {
    SetLqSetting("OPEN_TIMEOUT", waits);
    DWORD start = GetTickCount();
    EXPECT_EQ(lq.openPort(host.c_str()), -1) << "OPEN_TIMEOUT " << waits;
    uint32_t took = MsSince(start);
    EXPECT_GE(took + 50, static_cast<uint32_t>(waits * 1000)) << "OPEN_TIMEOUT " << waits << ": took " << took;
    EXPECT_LE(took, static_cast<uint32_t>(waits * 1000 + 800)) << "OPEN_TIMEOUT " << waits << ": took " << took;
  }
  for (SOCKET s : fillers) closesocket(s);
  closesocket(listener);
  SetLqSetting("OPEN_TIMEOUT", -1);
}

// Nothing listens at this address: the open fails within OPEN_TIMEOUT
// seconds (plus slack) and leaves nothing behind.
TEST(LanquayFrame, OpenToSilentAddressFailsWithinOpenTimeout) {
  LanquayLib& lq = Lq();
  SetLqSetting("TIME", 1);
  SetLqSetting("RETRY", 1);
  for (int64_t waits : {1, 2}) {
    SetLqSetting("OPEN_TIMEOUT", waits);
    DWORD start = GetTickCount();
    EXPECT_EQ(lq.openPort(SimHost(9).c_str()), -1) << "OPEN_TIMEOUT " << waits;
    uint32_t took = MsSince(start);
    EXPECT_LE(took, static_cast<uint32_t>(waits * 1000 + 800)) << "OPEN_TIMEOUT " << waits << ": took " << took;
  }
  SetLqSetting("OPEN_TIMEOUT", -1);
}

TEST(LanquayFrame, HostTextIsCheckedBeforeAnyConnect) {
  LanquayLib& lq = Lq();
  EXPECT_EQ(lq.openPort(nullptr), -1);
  EXPECT_EQ(lq.openStatus(nullptr), -1);
  std::string longest(35, '1');
  std::string tooLong(36, '1');
  EXPECT_EQ(lq.openPort(tooLong.c_str()), -1) << "36 characters";
  EXPECT_EQ(lq.openStatus(tooLong.c_str()), -1) << "36 characters";
  LqHandle status = lq.openStatus(longest.c_str());
  EXPECT_NE(status, -1) << "35 characters fit";
  EXPECT_NE(lq.closeStatus(status), 0);
}
