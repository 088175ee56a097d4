// lanquay's data port against the simulated printers on port 9100.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "lanquay_test_lib.h"
#include "sim_client.h"

namespace {

class LanquayPort : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = QuickLanPrinter();
    ASSERT_FALSE(host_.empty()) << "the simulator did not answer";
  }
  void TearDown() override { SimCommand(host_ + " reset"); }
  // A port to the printer with a small window that has stopped reading.
  LqHandle OpenStalledPort() {
    EXPECT_EQ(SimCommand(host_ + " set rcvbuf 4096"), "OK");
    EXPECT_EQ(SimCommand(host_ + " set fault stall"), "OK");
    return Lq().openPort(host_.c_str());
  }

  std::string host_;
};

std::vector<unsigned char> Pattern(size_t size) {
  std::vector<unsigned char> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>((i * 7 + i / 251) & 0xFF);
  return data;
}

// CRC-32 as zlib computes it, to compare transfers too big to fetch as hex.
uint32_t Crc32(const unsigned char* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string CrcAnswer(const std::vector<unsigned char>& data) {
  char text[64];
  snprintf(text, sizeof(text), "OK %u %08x", static_cast<unsigned>(data.size()), Crc32(data.data(), data.size()));
  return text;
}

}  // namespace

// Lengths around the 16384-byte piece size: every byte arrives once, in
// order, and sent equals the length.
TEST_F(LanquayPort, WritesOfEverySizeArriveWhole) {
  LanquayLib& lq = Lq();
  for (uint32_t length : {0u, 1u, 16384u, 16385u, 40000u, 49152u, 1000000u}) {
    ASSERT_EQ(SimCommand(host_ + " clear"), "OK");
    LqHandle port = lq.openPort(host_.c_str());
    ASSERT_NE(port, -1) << "length " << length;
    std::vector<unsigned char> data = Pattern(length + 1);
    uint32_t sent = 12345;
    EXPECT_EQ(lq.writePort(port, reinterpret_cast<const char*>(data.data()), length, &sent), 1) << "length " << length;
    EXPECT_EQ(sent, length);
    EXPECT_EQ(lq.getError(port), 0) << "length " << length;
    EXPECT_EQ(SimCommand(host_ + " wait_count " + std::to_string(length) + " 10000"),
              "OK " + std::to_string(length));
    data.resize(length);
    EXPECT_EQ(SimCommand(host_ + " received_crc"), CrcAnswer(data)) << "length " << length;
    // The simulator's hex dump is slow for big transfers; one full
    // comparison of a write of three pieces is enough.
    if (length == 40000) {
      EXPECT_TRUE(SimReceived(host_) == data) << "length " << length << ": bytes differ";
    }
    EXPECT_EQ(lq.closePort(port), 1);
  }
}

TEST_F(LanquayPort, AsyncWriteBehavesLikeWrite) {
  LanquayLib& lq = Lq();
  LqHandle port = lq.openPort(host_.c_str());
  ASSERT_NE(port, -1);
  std::vector<unsigned char> data = Pattern(20000);
  uint32_t sent = 0;
  EXPECT_EQ(lq.writePortAsync(port, reinterpret_cast<const char*>(data.data()), 20000, &sent), 1);
  EXPECT_EQ(sent, 20000u);
  EXPECT_EQ(SimCommand(host_ + " wait_count 20000 10000"), "OK 20000");
  EXPECT_EQ(SimCommand(host_ + " received_crc"), CrcAnswer(data));
  EXPECT_EQ(lq.closePort(port), 1);
}

// A command goes out and its reply comes back through both read calls; an
// empty socket gives LqRecvPort 0 at once and LqReadPort 1 with 0 after L.
TEST_F(LanquayPort, ReadsTakeRepliesAndTimeOut) {
  LanquayLib& lq = Lq();
  LqHandle port = lq.openPort(host_.c_str());
  ASSERT_NE(port, -1);
  char buffer[512] = {};
  int32_t received = -1;

  DWORD start = GetTickCount();
  EXPECT_EQ(lq.recvPort(port, buffer, sizeof(buffer), &received), 0) << "nothing waiting";
  EXPECT_EQ(lq.getError(port), 0);
  EXPECT_EQ(received, 0);
  EXPECT_LT(MsSince(start), 200u);

  start = GetTickCount();
  EXPECT_EQ(lq.readPort(port, buffer, sizeof(buffer), &received), 1);
  uint32_t took = MsSince(start);
  EXPECT_EQ(received, 0);
  EXPECT_GE(took, 950u) << "L is 1 s";
  EXPECT_LE(took, 1700u) << "L is 1 s";

  const char readFix[] = "\x1d" "eREADFIX";
  uint32_t sent = 0;
  ASSERT_EQ(lq.writePort(port, readFix, 9, &sent), 1);
  EXPECT_EQ(lq.readPort(port, buffer, sizeof(buffer), &received), 1);
  ASSERT_GT(received, 2);
  EXPECT_EQ(buffer[0], '7');
  EXPECT_EQ(buffer[1], '`');

  ASSERT_EQ(lq.writePort(port, readFix, 9, &sent), 1);
  int32_t total = 0;
  for (int i = 0; i < 20 && total == 0; ++i) {
    Sleep(100);
    if (lq.recvPort(port, buffer, sizeof(buffer), &received) == 1) total = received;
  }
  EXPECT_GT(total, 2) << "LqRecvPort took the second reply";
  EXPECT_EQ(lq.closePort(port), 1);
}

TEST_F(LanquayPort, NullBufferOrCountIsRefusedWithErrorZero) {
  LanquayLib& lq = Lq();
  LqHandle port = lq.openPort(host_.c_str());
  ASSERT_NE(port, -1);
  char buffer[8];
  int32_t received = 5;
  uint32_t sent = 5;
  EXPECT_EQ(lq.writePort(port, nullptr, 4, &sent), 0);
  EXPECT_EQ(lq.writePort(port, buffer, 4, nullptr), 0);
  EXPECT_EQ(lq.readPort(port, nullptr, 8, &received), 0);
  EXPECT_EQ(lq.readPort(port, buffer, 8, nullptr), 0);
  EXPECT_EQ(lq.recvPort(port, nullptr, 8, &received), 0);
  EXPECT_EQ(lq.getError(port), 0);
  EXPECT_EQ(received, 5);
  EXPECT_EQ(sent, 5u);
  EXPECT_EQ(lq.closePort(port), 1);
}

// The printer accepts and closes at once: reads see the end as 1 with 0.
TEST_F(LanquayPort, ReadsAfterThePrinterClosedGiveZeroBytes) {
  LanquayLib& lq = Lq();
  ASSERT_EQ(SimCommand(host_ + " set fault close_at_once"), "OK");
  LqHandle port = lq.openPort(host_.c_str());
  ASSERT_NE(port, -1);
  Sleep(200);
  char buffer[64];
  int32_t received = -1;
  DWORD start = GetTickCount();
  EXPECT_EQ(lq.readPort(port, buffer, sizeof(buffer), &received), 1);
  EXPECT_EQ(received, 0);
  EXPECT_LT(MsSince(start), 500u) << "the end of the connection needs no wait";
  received = -1;
  EXPECT_EQ(lq.recvPort(port, buffer, sizeof(buffer), &received), 1);
  EXPECT_EQ(received, 0);
  // The printer's side is closed already, so the close needs no drain wait.
  start = GetTickCount();
  EXPECT_EQ(lq.closePort(port), 1);
  EXPECT_LT(MsSince(start), 50u);
}

// A reset, or a close before the printer read everything, lost bytes. A
// printer with a pace is still reading when the close begins: its give-up
// is seen however late, and a sound one costs little beyond the transfer.
TEST_F(LanquayPort, CloseTellsALostWriteFromAPrinterThatTookEverything) {
  LanquayLib& lq = Lq();
  struct Case {
    const char* fault;
    int arg;
    uint32_t length;
    uint32_t taken;  // what the printer reads before it closes
    int closed;
    uint32_t limitMs;  // of the close; with a pace, of the write and the close beyond the transfer's own time
    int rate = 0;      // bytes a second, through a small window
  } cases[] = {
      {"none", 0, 32768, 32768, 1, 200},             // closes once it sees our end
      {"close_after", 32768, 32768, 32768, 1, 500},  // closes first, after taking it all
      {"drop", 16384, 32768, 16384, 0, 500},         // drops the connection halfway
      {"close_at_once", 0, 9, 0, 0, 500},            // closed before the bytes came
      {"drop", 1047576, 1048576, 1047576, 0, 500},   // drops the last 1,000 bytes of a large write
      {"fin_reset", 100000, 307200, 0, 0, 500, 150 * 1024},  // gives up a third of the way
      {"fin_reset", 300000, 307200, 0, 0, 500, 150 * 1024},  // gives up near the end, during the close
      {"fin_reset", 306200, 307200, 0, 0, 500, 150 * 1024},  // gives up 1,000 bytes before the end
      {"none", 0, 307200, 0, 1, 250, 150 * 1024},            // slow, and sound
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host_ + " reset"), "OK");
    ASSERT_EQ(SimCommand(host_ + " set fault " + c.fault), "OK");
    ASSERT_EQ(SimCommand(host_ + " set arg " + std::to_string(c.arg)), "OK");
    if (c.rate != 0) {
      ASSERT_EQ(SimCommand(host_ + " set rate " + std::to_string(c.rate)), "OK");
      ASSERT_EQ(SimCommand(host_ + " set rcvbuf 32768"), "OK");
    }
    LqHandle port = lq.openPort(host_.c_str());
    ASSERT_NE(port, -1) << c.fault;
    std::vector<unsigned char> data = Pattern(c.length);
    uint32_t sent = 0;
    DWORD start = GetTickCount();
    lq.writePort(port, reinterpret_cast<const char*>(data.data()), c.length, &sent);
    uint32_t transferMs = 0;
    if (c.rate == 0) {
      // Let the printer read (and close) before the close begins.
      SimCommand(host_ + " wait_count " + std::to_string(c.taken) + " 1000");
      Sleep(100);
      start = GetTickCount();
    } else {
      // With room for a simulator that falls behind its pace on a busy machine.
      transferMs = static_cast<uint32_t>(uint64_t{c.length} * 1200 / static_cast<uint32_t>(c.rate));
    }
    EXPECT_EQ(lq.closePort(port), c.closed) << c.fault << " " << c.arg << ", sent " << sent;
    EXPECT_LT(MsSince(start), transferMs + c.limitMs) << c.fault << " " << c.arg;
    if (c.closed == 1) {
      EXPECT_EQ(SimCommand(host_ + " received_crc"), CrcAnswer(data)) << c.fault;
    }
  }
}

// A printer that stops reading blocks the write; a close on another thread
// ends it within about one 100 ms pause, with sent telling how far it got.
TEST_F(LanquayPort, CloseEndsAWriteBlockedByAStalledPrinter) {
  LanquayLib& lq = Lq();
  LqHandle port = OpenStalledPort();
  ASSERT_NE(port, -1);
  const uint32_t length = 32 * 1024 * 1024;
  std::vector<char> data(length, 'x');
  std::atomic<DWORD> writeEnded{0};
  int writeResult = -1;
  uint32_t sent = 0;
  std::thread writer([&] {
    writeResult = lq.writePort(port, data.data(), length, &sent);
    writeEnded = GetTickCount();
  });
  Sleep(1500);
  ASSERT_EQ(writeEnded.load(), 0u) << "the write did not block; sent " << sent;
  DWORD closeStart = GetTickCount();
  int closeResult = lq.closePort(port);
  uint32_t closeTook = MsSince(closeStart);
  writer.join();
  uint32_t writeTook = static_cast<uint32_t>(writeEnded.load() - closeStart);
  EXPECT_EQ(writeResult, 0);
  EXPECT_LT(sent, length);
  EXPECT_GT(sent, 0u);
  EXPECT_LE(writeTook, 250u) << "the write returned " << writeTook << " ms after the close began";
  EXPECT_EQ(closeResult, 1);
  // The write leaves within one pause; then the drain waits up to L (1 s)
  // for a printer that never closes its side.
  EXPECT_GE(closeTook, 950u);
  EXPECT_LE(closeTook, 1700u);
}

// Without a close on another thread, a write to a printer that takes no more
// bytes gives up after five time limits (L is 1 s here) with a time-out.
TEST_F(LanquayPort, WriteToAStalledPrinterGivesUp) {
  const std::vector<char> data(32 * 1024 * 1024, 'x');
  const uint32_t length = static_cast<uint32_t>(data.size());
  LqHandle port = OpenStalledPort();
  ASSERT_NE(port, -1);
  LanquayLib& lq = Lq();
  uint32_t sent = 0;
  const DWORD start = GetTickCount();
  EXPECT_EQ(lq.writePort(port, data.data(), length, &sent), 0);
  EXPECT_GE(MsSince(start), 5000u);
  EXPECT_LE(MsSince(start), 9000u);
  EXPECT_LT(sent, length);
  EXPECT_EQ(lq.getError(port), WSAETIMEDOUT);
  lq.closePort(port);
}

// A read waiting for data ends with error value -1 when the port closes.
TEST_F(LanquayPort, CloseEndsAWaitingRead) {
  LanquayLib& lq = Lq();
  SetLqSetting("TIME", 5);
  LqHandle port = lq.openPort(host_.c_str());
  ASSERT_NE(port, -1);
  std::atomic<DWORD> readEnded{0};
  int readResult = -1;
  std::thread reader([&] {
    char buffer[64];
    int32_t received = 0;
    readResult = lq.readPort(port, buffer, sizeof(buffer), &received);
    readEnded = GetTickCount();
  });
  Sleep(300);
  DWORD closeStart = GetTickCount();
  EXPECT_EQ(lq.closePort(port), 1);
  reader.join();
  EXPECT_EQ(readResult, 0);
  EXPECT_LE(static_cast<uint32_t>(readEnded.load() - closeStart), 250u);
}

// Reader, writer and two closers on one handle at once, round after round:
// one close wins, the other fails cleanly, the transfers end, and nothing
// uses the freed record (the library must neither crash nor close twice).
TEST_F(LanquayPort, TransfersAndTwoClosesRaceOnOneHandle) {
  LanquayLib& lq = Lq();
  std::vector<char> data(256 * 1024, 'r');
  for (int round = 0; round < 8; ++round) {
    LqHandle port = lq.openPort(host_.c_str());
    ASSERT_NE(port, -1) << "round " << round;
    std::atomic<bool> go{false};
    std::atomic<int> closesWon{0};
    auto await = [&] {
      while (!go) Sleep(0);
    };
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
      await();
      uint32_t sent = 0;
      while (lq.writePort(port, data.data(), static_cast<uint32_t>(data.size()), &sent) == 1) {
      }
    });
    threads.emplace_back([&] {
      await();
      char buffer[256];
      int32_t received = 0;
      while (lq.recvPort(port, buffer, sizeof buffer, &received) == 1 || lq.getError(port) == 0) {
        if (lq.readPort(port, buffer, sizeof buffer, &received) == 0) break;
      }
    });
    for (int closer = 0; closer < 2; ++closer) {
      threads.emplace_back([&, closer] {
        await();
        Sleep(static_cast<DWORD>(round * 7 + closer));
        if (lq.closePort(port) == 1) ++closesWon;
      });
    }
    go = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(closesWon.load(), 1) << "round " << round;
    uint32_t sent = 7;
    EXPECT_EQ(lq.writePort(port, data.data(), 1, &sent), 0) << "round " << round;
    EXPECT_EQ(lq.closePort(port), 0) << "round " << round;
  }
}

// Two threads writing on one handle to a slow printer: each call's bytes
// arrive together, whichever call comes first, although each call waits
// for the printer between its pieces.
TEST_F(LanquayPort, TwoWritersOnOneHandleNeverMixTheirCalls) {
  LanquayLib& lq = Lq();
  ASSERT_EQ(SimCommand(host_ + " set rcvbuf 32768"), "OK");
  ASSERT_EQ(SimCommand(host_ + " set rate 300000"), "OK");
  LqHandle port = lq.openPort(host_.c_str());
  ASSERT_NE(port, -1);
  constexpr uint32_t kEach = 3 * 16384;
  std::vector<std::thread> writers;
  for (char letter : {'a', 'b'}) {
    writers.emplace_back([&, letter] {
      const std::vector<char> data(kEach, letter);
      uint32_t sent = 0;
      EXPECT_EQ(lq.writePort(port, data.data(), kEach, &sent), 1) << letter;
    });
  }
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(lq.closePort(port), 1);
  const std::vector<unsigned char> got = SimReceived(host_);
  ASSERT_EQ(got.size(), 2 * kEach);
  size_t changes = 0;
  for (size_t i = 1; i < got.size(); ++i) changes += got[i] != got[i - 1] ? 1 : 0;
  EXPECT_EQ(changes, 1u) << "the two calls' bytes were mixed";
}

// Hostile printers on the data port: every read stays within its buffer
// whatever arrives, and the close's drain ends within L (1 s) although the
// printer never stops sending.
TEST_F(LanquayPort, HostileRepliesStayInsideReadsAndTheClose) {
  LanquayLib& lq = Lq();
  const char* const faults[] = {"endless", "long", "trickle"};
  for (const char* fault : faults) {
    ASSERT_EQ(SimCommand(host_ + " set fault " + fault), "OK");
    LqHandle port = lq.openPort(host_.c_str());
    ASSERT_NE(port, -1) << fault;
    const char readFix[] = "\x1d" "eREADFIX";
    uint32_t sent = 0;
    ASSERT_EQ(lq.writePort(port, readFix, 9, &sent), 1) << fault;
    char buffer[300];
    for (int i = 0; i < 5; ++i) {
      memset(buffer, 0x5A, sizeof(buffer));
      int32_t received = -1;
      const DWORD start = GetTickCount();
      EXPECT_EQ(lq.readPort(port, buffer, 256, &received), 1) << fault;
      EXPECT_LE(MsSince(start), 1700u) << fault;
      EXPECT_GE(received, 0) << fault;
      EXPECT_LE(received, 256) << fault;
      size_t untouched = 0;
      for (size_t b = 256; b < sizeof(buffer); ++b) untouched += buffer[b] == 0x5A;
      EXPECT_EQ(untouched, sizeof(buffer) - 256) << fault << ": written past the read's size";
    }
    const DWORD start = GetTickCount();
    EXPECT_EQ(lq.closePort(port), 1) << fault;
    EXPECT_LE(MsSince(start), 1700u) << fault << ": the drain outlived L";
  }
}
