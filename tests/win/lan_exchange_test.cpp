// The LAN branches of the exchange through a fake network library bound in
// slot 1: open attempts, the NUL byte before the drain, partial hand-ons of
// the write call and its call limit, and the receive's try and NUL rules;
// and the worker of the side-by-side runs against the same cases.
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "core/net_binding.h"
#include "core/port_io.h"
#include "core/program_state.h"
#include "core/result_codes.h"
#include "core/send_printer.h"
#include "core_test_support.h"
#include "romsmith/lan_worker.h"

namespace {

constexpr LqHandle kFakeHandle = 0x5A5A;

// What the fake library is told to do and what it saw.
struct FakeLibrary {
  int openCalls = 0;
  int openFailures = 0;       // this many opens return -1 first
  int icmpResult = 1;         // what SetUseICMP returns
  int closeCalls = 0;
  int closeResult = 1;        // what ClosePort returns (0: the printer dropped the connection)
  std::vector<LqHandle> closedHandles;
  std::vector<ULONGLONG> openTimes;
  std::string host;

  // WritePort: each call hands on at most `handOn` bytes (0 = all) and
  // returns 1 only when everything offered was taken; `stuck` makes every
  // call hand on `handOn` bytes and return 0.
  uint32_t handOn = 0;
  bool stuck = false;
  DWORD msPerKByte = 0;  // how long a call takes for each KB it is offered
  int writeCalls = 0;
  std::vector<std::string> writes;  // the bytes handed on by each call
  std::string sent;                 // everything handed on

  // RecvPort: the answers of successive calls once a command (a write of
  // more than one byte) went out, so the drain before it sees nothing; an
  // empty queue answers nothing. reportCount overrides the count when
  // non-negative.
  std::deque<std::string> replies;
  bool commandSent = false;
  int recvCalls = 0;
  int32_t reportCount = -1;
  int32_t chatterBytes = 0;  // found by each of the first 40 receives before the command
  int drainCalls = 0;
};
FakeLibrary g_lib;

LqHandle WINAPI FakeOpenPort(const char* host) {
  ++g_lib.openCalls;
  g_lib.host = host;
  g_lib.openTimes.push_back(GetTickCount64());
  if (g_lib.openFailures > 0) {
    --g_lib.openFailures;
    return -1;
  }
  return kFakeHandle;
}

int WINAPI FakeSetUseICMP(int32_t) { return g_lib.icmpResult; }

int WINAPI FakeClosePort(LqHandle handle) {
  ++g_lib.closeCalls;
  g_lib.closedHandles.push_back(handle);
  return g_lib.closeResult;
}

int WINAPI FakeWritePort(LqHandle handle, const char* data, uint32_t length, uint32_t* sent) {
  ++g_lib.writeCalls;
  if (handle != kFakeHandle) return 0;
  if (g_lib.msPerKByte) Sleep(length / 1024 * g_lib.msPerKByte);
  uint32_t n = g_lib.handOn && g_lib.handOn < length ? g_lib.handOn : length;
  g_lib.writes.emplace_back(data, n);
  g_lib.sent.append(data, n);
  if (length > 1) g_lib.commandSent = true;
  *sent = n;
  return !g_lib.stuck && n == length ? 1 : 0;
}

int WINAPI FakeRecvPort(LqHandle handle, char* buffer, int32_t size, int32_t* received) {
  ++g_lib.recvCalls;
  *received = 0;
  if (handle != kFakeHandle) return 0;
  if (!g_lib.commandSent && g_lib.chatterBytes && g_lib.drainCalls++ < 40) {
    *received = g_lib.chatterBytes < size ? g_lib.chatterBytes : size;
    memset(buffer, '.', static_cast<size_t>(*received));
  }
  if (!g_lib.commandSent || g_lib.replies.empty()) return 1;
  std::string reply = g_lib.replies.front();
  g_lib.replies.pop_front();
  int32_t n = static_cast<int32_t>(reply.size()) < size ? static_cast<int32_t>(reply.size()) : size;
  memcpy(buffer, reply.data(), static_cast<size_t>(n));
  *received = g_lib.reportCount >= 0 ? g_lib.reportCount : n;
  return 1;
}

class LanExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lib = FakeLibrary();
    g_netLibraries[kNetSlotSx] = {};
    g_netLibraries[kNetSlotLanquay] = {};
    NetLibraryBinding& b = g_netLibraries[kNetSlotLanquay];
    b.OpenPort = FakeOpenPort;
    b.SetUseICMP = FakeSetUseICMP;
    b.ClosePort = FakeClosePort;
    b.WritePort = FakeWritePort;
    b.RecvPort = FakeRecvPort;
    g_program.netSlot = kNetSlotLanquay;
    g_program.progressDialog = nullptr;
    g_settings.languageIndex = 1;
    conn_ = MakeConnection(PORT_LAN, L"", L"127.0.0.2");
  }
  void TearDown() override {
    g_netLibraries[kNetSlotLanquay] = {};
    g_settings.portKind = PORT_USB;
  }

  int32_t Send(uint16_t kind, const wchar_t* serial = nullptr) {
    CommandBuffer buffer = {};
    return SendPrinter(kind, &conn_, serial, &buffer);
  }

  PrinterConnection conn_;
};

const std::string kReadFixReply = std::string("7`Firmware Number  ABC-123\r\nFirmware Version  01.23  A\r\n", 55) +
                                  std::string(1, '\0');

TEST_F(LanExchange, OpenMakesThreeAttemptsThenReportsPortOpenError) {
  g_lib.openFailures = 5;
  EXPECT_EQ(Send(MODE_VERSION_PRINT), PRT_ERR_OPEN);
  EXPECT_EQ(g_lib.openCalls, 3);
  EXPECT_EQ(g_lib.host, "127.0.0.2");
  ASSERT_EQ(g_lib.openTimes.size(), 3u);
  EXPECT_GE(g_lib.openTimes[2] - g_lib.openTimes[0], 6u) << "3 ms between attempts";
  EXPECT_EQ(g_lib.writeCalls, 0);

  // The third attempt succeeds.
  g_lib = FakeLibrary();
  g_lib.openFailures = 2;
  EXPECT_EQ(Send(MODE_VERSION_PRINT), 0);
  EXPECT_EQ(g_lib.openCalls, 3);
  EXPECT_EQ(g_lib.closedHandles, std::vector<LqHandle>{kFakeHandle});

  // Opens that the ICMP switch refuses fail too; each opened port goes back.
  g_lib = FakeLibrary();
  g_lib.icmpResult = 0;
  EXPECT_EQ(Send(MODE_VERSION_PRINT), PRT_ERR_OPEN);
  EXPECT_EQ(g_lib.openCalls, 3);
  EXPECT_EQ(g_lib.closeCalls, 3);

  // An empty slot is a port that does not open, not a crash.
  g_netLibraries[kNetSlotLanquay] = {};
  EXPECT_EQ(Send(MODE_READFIX), PRT_ERR_OPEN);
}

TEST_F(LanExchange, NulByteGoesBeforeTheDrainForReplyKindsOnly) {
  struct Case {
    uint16_t kind;
    const wchar_t* serial;
    std::string first;
    std::string reply;
  } cases[] = {
      {MODE_RESET3, nullptr, std::string(1, '\0'), std::string(";3\0", 3)},
      {MODE_READFIX, nullptr, std::string(1, '\0'), kReadFixReply},
      {MODE_READVARI, nullptr, std::string(1, '\0'), std::string("7aSN42\r\0", 8)},
      {MODE_VERSION_PRINT, nullptr, std::string("\x1b@", 2), ""},
      {MODE_SERIALNO_SET, L"AB", std::string("\x1dg", 2), ""},
  };
  for (const Case& c : cases) {
    g_lib = FakeLibrary();
    if (!c.reply.empty()) g_lib.replies = {c.reply};
    EXPECT_EQ(Send(c.kind, c.serial), 0) << "kind " << c.kind;
    ASSERT_FALSE(g_lib.writes.empty()) << "kind " << c.kind;
    EXPECT_EQ(g_lib.writes[0].substr(0, c.first.size()), c.first) << "kind " << c.kind;
    bool awaits = c.kind == MODE_RESET3 || c.kind == MODE_READFIX || c.kind == MODE_READVARI;
    EXPECT_EQ(g_lib.writes.size(), awaits ? 2u : 1u) << "kind " << c.kind;
  }
  EXPECT_STREQ(SerialNumberText, L"SN42");
}

TEST_F(LanExchange, PartialHandOnsAreContinuedAndBounded) {
  std::vector<unsigned char> bytes = FirmwareBytes(150000, 4);
  LogCapture log(L"kit_lan_write");

  // The library takes 7,000 bytes a call: every byte arrives once, in order.
  g_lib.handOn = 7000;
  CommandBuffer buffer = {static_cast<uint32_t>(bytes.size()), GlobalBlock(bytes)};
  EXPECT_EQ(SendPrinter(MODE_FWSEND, &conn_, nullptr, &buffer), 0);
  EXPECT_TRUE(g_lib.sent == std::string(bytes.begin(), bytes.end())) << "sent " << g_lib.sent.size();
  EXPECT_EQ(log.Count("PrinterSendData WriteFile Success"), 3) << "65,536-byte chunks";
  ASSERT_NE(buffer.data, nullptr) << "kind 14 keeps the block";

  // A library that keeps taking a little but never says done: ten calls.
  g_lib = FakeLibrary();
  g_lib.handOn = 100;
  g_lib.stuck = true;
  log.Clear();
  EXPECT_EQ(SendPrinter(MODE_FWSEND_LAST, &conn_, nullptr, &buffer), PRT_ERR_SEND);
  EXPECT_EQ(g_lib.writeCalls, 10);
  EXPECT_EQ(g_lib.sent.size(), 1000u);
  EXPECT_EQ(log.Count("PrinterSendData Err(PRT_ERR_SEND(dwLoop >= 10))"), 1);
  EXPECT_EQ(buffer.data, nullptr) << "kind 15 frees the block";

  // A printer that trickles, taking all it is offered at 10 ms a KB: the
  // wait limit (40 slices of 10 ms) bounds the whole chunk, not its calls.
  g_lib = FakeLibrary();
  g_lib.msPerKByte = 10;
  g_portIoSeams.writeSliceMs = 10;
  log.Clear();
  buffer = {static_cast<uint32_t>(bytes.size()), GlobalBlock(bytes)};
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(SendPrinter(MODE_FWSEND_LAST, &conn_, nullptr, &buffer), PRT_ERR_SEND);
  EXPECT_LT(GetTickCount64() - start, 400u + 160u + 300u) << "the limit and one call more";
  EXPECT_EQ(log.Count("PrinterSendData Err(PRT_ERR_SEND(dwLoop >= 40)"), 1);
  g_portIoSeams.writeSliceMs = kWriteSliceMs;
}

TEST_F(LanExchange, WriteThatHandsOnNothingFailsAtOnce) {
  // The write reports not done with nothing written: no second call.
  struct Local {
    static int WINAPI Refuse(LqHandle, const char*, uint32_t, uint32_t* sent) {
      ++g_lib.writeCalls;
      *sent = 0;
      return 0;
    }
  };
  g_netLibraries[kNetSlotLanquay].WritePort = Local::Refuse;
  EXPECT_EQ(Send(MODE_VERSION_PRINT), PRT_ERR_SEND);
  EXPECT_EQ(g_lib.writeCalls, 1);
}

TEST_F(LanExchange, ReceiveTriesUntilTheLastByteIsNul) {
  // The reply in four pieces, the last with the NUL: kept whole, in order.
  g_lib.replies = {kReadFixReply.substr(0, 6), kReadFixReply.substr(6, 20), kReadFixReply.substr(26, 20),
                   kReadFixReply.substr(46)};
  FirmwareVersionText[0] = 0;
  EXPECT_EQ(Send(MODE_READFIX), 0);
  EXPECT_STREQ(FirmwareVersionText, L"ABC-123 01.23 A");
  EXPECT_EQ(g_lib.recvCalls, 4 + 4) << "four drain passes, then four tries";

  // Never a NUL: ten tries in each of four passes per attempt, three attempts.
  g_lib = FakeLibrary();
  for (int i = 0; i < 200; ++i) g_lib.replies.push_back("7`x");
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Send(MODE_READVARI), PRT_ERR_NOREPLY);
  printf("READVARI without NUL on LAN: %llu ms, %d receive calls\n",
         static_cast<unsigned long long>(GetTickCount64() - start), g_lib.recvCalls);
  EXPECT_EQ(g_lib.recvCalls, 4 + 3 * 4 * 10);
}

// A device that talks before the command, a byte at a time or in full
// buffers, holds the drain no longer than its time or byte limit.
TEST_F(LanExchange, DrainEndsWhateverKeepsArriving) {
  for (const auto& c : {std::pair<int32_t, int>{1, 12}, {255, 6}}) {
    g_lib = FakeLibrary();
    g_lib.chatterBytes = c.first;
    g_lib.replies = {std::string(";3\0", 3)};
    EXPECT_EQ(Send(MODE_RESET3), 0) << c.first << " bytes a call";
    EXPECT_LE(g_lib.drainCalls, c.second) << c.first << " bytes a call";
  }
}

TEST_F(LanExchange, ResetReplyEndsTheReceiveOnAnyData) {
  g_lib.replies = {std::string(";3\1", 3), std::string(";3\1", 3), std::string(";3\1", 3)};
  LogCapture log(L"kit_lan_reset");
  EXPECT_EQ(Send(MODE_RESET3), PRT_ERR_DATA);
  EXPECT_EQ(log.Count("CommandWait Err(PRT_ERR_DATA)"), 3);
  EXPECT_EQ(g_lib.recvCalls, 4 + 3);

  g_lib = FakeLibrary();
  g_lib.replies = {std::string(";3\0", 3)};
  EXPECT_EQ(Send(MODE_RESET3), 0);
}

TEST_F(LanExchange, CountBeyondTheBufferIsNotTrusted) {
  // A library that claims more than the buffer holds.
  g_lib.replies = {std::string(";3\0", 3)};
  g_lib.reportCount = 100000;
  EXPECT_EQ(Send(MODE_RESET3), 0);
}

// Each case through the one-by-one exchange and through a worker, with the
// fake library set up alike: the worker must hand on the same bytes in the
// same calls, receive as often, and end with the same result. Every other
// worker runs on a thread made ahead of its job; the one left unused at the
// end must end when told.
TEST_F(LanExchange, WorkerMatchesTheExchange) {
  const std::vector<unsigned char> firmware = FirmwareBytes(150000, 4);
  struct Case {
    const char* name;
    uint16_t kind;  // MODE_FWSEND, MODE_RESET3 or MODE_READFIX
    void (*setUp)();
    int32_t result;
  } cases[] = {
      {"firmware in partial hand-ons", MODE_FWSEND, [] { g_lib.handOn = 7000; }, 0},
      {"firmware to a library that never says done", MODE_FWSEND, [] { g_lib.handOn = 100, g_lib.stuck = true; },
       PRT_ERR_SEND},
      {"firmware the printer dropped before the close", MODE_FWSEND, [] { g_lib.closeResult = 0; }, PRT_ERR_SEND},
      {"no port opens", MODE_FWSEND, [] { g_lib.openFailures = 5; }, PRT_ERR_OPEN},
      {"version in pieces", MODE_READFIX,
       [] { g_lib.replies = {kReadFixReply.substr(0, 6), kReadFixReply.substr(6, 30), kReadFixReply.substr(36)}; }, 0},
      {"reset with a wrong reply", MODE_RESET3,
       [] { g_lib.replies = {std::string(";3\1", 3), std::string(";3\1", 3), std::string(";3\1", 3)}; },
       PRT_ERR_DATA},
      {"reset answered", MODE_RESET3, [] { g_lib.replies = {std::string(";3\0", 3)}; }, 0},
  };
  for (const Case& c : cases) {
    g_lib = FakeLibrary();
    c.setUp();
    CommandBuffer buffer = {static_cast<uint32_t>(firmware.size()), GlobalBlock(firmware)};
    FirmwareVersionText[0] = 0;
    EXPECT_EQ(c.kind == MODE_FWSEND ? SendPrinter(MODE_FWSEND, &conn_, nullptr, &buffer) : Send(c.kind), c.result)
        << c.name << ", one by one";
    if (buffer.data != nullptr) GlobalFree(buffer.data);
    const FakeLibrary exchange = g_lib;

    g_lib = FakeLibrary();
    c.setUp();
    LanJob job;
    job.kind = c.kind;
    strcpy(job.address, "127.0.0.2");
    job.library = &g_netLibraries[kNetSlotLanquay];
    job.data = firmware.data();
    job.length = static_cast<uint32_t>(firmware.size());
    job.writeSliceMs = g_portIoSeams.writeSliceMs;
    if ((&c - cases) % 2 == 1) ReadyLanWorkers(2);
    ASSERT_TRUE(MakeLanJob(&job)) << c.name;
    StartLanJob(&job);
    WaitForSingleObject(job.thread, INFINITE);
    ASSERT_TRUE(LanJobFinished(&job)) << c.name;
    JoinLanJob(&job);
    EXPECT_EQ(job.result, c.result) << c.name << ", worker";
    EXPECT_TRUE(g_lib.writes == exchange.writes) << c.name << ": " << g_lib.writes.size() << " write calls, one by one "
                                                 << exchange.writes.size();
    EXPECT_EQ(g_lib.recvCalls, exchange.recvCalls) << c.name;
    EXPECT_EQ(g_lib.openCalls, exchange.openCalls) << c.name;
    EXPECT_EQ(g_lib.closeCalls, exchange.closeCalls) << c.name;
    if (c.kind == MODE_FWSEND && c.result == 0) {
      EXPECT_EQ(LanJobSent(&job), job.length) << c.name;
    }
    if (c.kind == MODE_READFIX) {
      EXPECT_STREQ(job.version, "ABC-123 01.23 A") << c.name;
      EXPECT_STREQ(FirmwareVersionText, L"ABC-123 01.23 A") << c.name;
    }
  }
  EndLanWorkers();
}

}  // namespace
