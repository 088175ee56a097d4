// The command exchange against the simulated printer on COM5 (a pty under
// Wine): bytes on the wire, reply checks, retries, faults, big blocks.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/port_io.h"
#include "core/printer_command.h"
#include "core/result_codes.h"
#include "core/send_printer.h"
#include "core_test_support.h"
#include "sim_client.h"

namespace {

class ComExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SimCommand("com reset"), "OK");
    g_settings.writingMethod = 1;
    g_settings.comFlowControl = 0;
    g_settings.languageIndex = 1;
    g_portIoSeams = DefaultPortIoSeams();
    conn_ = MakeConnection(PORT_COM, kSimComPath, kSimComName);
  }
  void TearDown() override { g_portIoSeams = DefaultPortIoSeams(); }

  int32_t Send(uint16_t kind, const wchar_t* serial = nullptr) {
    CommandBuffer buffer = {};
    int32_t r = SendPrinter(kind, &conn_, serial, &buffer);
    EXPECT_EQ(buffer.data, nullptr) << "kind " << kind << " left its command block";
    return r;
  }

  PrinterConnection conn_;
};

TEST_F(ComExchange, BytesOnTheWireForEveryCommandKind) {
  struct Case {
    uint16_t kind;
    const wchar_t* serial;
    const char* hex;
    int32_t result;
  } cases[] = {
      {MODE_RESET3, nullptr, "1b3d0252455345543" "31b3d03", 0},
      {MODE_VERSION_PRINT, nullptr, "1b401d284102000002", 0},
      {MODE_READFIX, nullptr, "1d6552454144464958", 0},
      {MODE_READVARI, nullptr, "1d655245414456415249", 0},
      {MODE_SERIALNO_SET, L"AB1234", "1d6753455249414c06414231323334", 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand("com clear"), "OK");
    EXPECT_EQ(Send(c.kind, c.serial), c.result) << "kind " << c.kind;
    EXPECT_EQ(ToHex(SimReceived("com")), c.hex) << "kind " << c.kind;
  }
  // The caller's block unchanged, for the two firmware kinds and any other.
  for (uint16_t kind : {uint16_t{MODE_FWSEND}, uint16_t{MODE_FWSEND_LAST}, uint16_t{40}}) {
    ASSERT_EQ(SimCommand("com clear"), "OK");
    std::vector<unsigned char> bytes = {0x01, 0x02, 0xFE, 0x00, 0x41};
    CommandBuffer buffer = {static_cast<uint32_t>(bytes.size()), GlobalBlock(bytes)};
    EXPECT_EQ(SendPrinter(kind, &conn_, nullptr, &buffer), 0) << "kind " << kind;
    EXPECT_EQ(ToHex(SimReceived("com")), ToHex(bytes)) << "kind " << kind;
    if (kind == MODE_FWSEND) {
      EXPECT_NE(buffer.data, nullptr) << "kind 14 keeps the block for the next printer";
      EXPECT_EQ(buffer.length, bytes.size());
      GlobalFree(buffer.data);
    } else {
      EXPECT_EQ(buffer.data, nullptr) << "kind " << kind << " frees the block";
    }
  }
}

TEST_F(ComExchange, RepliesAreParsedIntoTheOutputTexts) {
  ASSERT_EQ(SimCommand("com set number XY-9"), "OK");
  ASSERT_EQ(SimCommand("com set version 02.00   B"), "OK");
  EXPECT_EQ(Send(MODE_READFIX), 0);
  EXPECT_STREQ(FirmwareVersionText, L"XY-9 02.00 B");

  ASSERT_EQ(SimCommand("com set serial QZ777"), "OK");
  EXPECT_EQ(Send(MODE_READVARI), 0);
  EXPECT_STREQ(SerialNumberText, L"QZ777");

  // A serial written is what the printer then holds and reads back.
  EXPECT_EQ(Send(MODE_SERIALNO_SET, L"NEW-0042"), 0);
  EXPECT_EQ(SimCommand("com serial"), "OK NEW-0042");
  EXPECT_EQ(Send(MODE_READVARI), 0);
  EXPECT_STREQ(SerialNumberText, L"NEW-0042");

  // A reply whose serial is longer than the text holds is cut, not overrun.
  ASSERT_EQ(SimCommand("com set serial " + std::string(70, 'S')), "OK");
  EXPECT_EQ(Send(MODE_READVARI), 0);
  EXPECT_EQ(wcslen(SerialNumberText), 49u);
}

// Bytes the printer sent unasked before the command (here shaped like a
// wrong reply) are drained first and never taken for the reply.
TEST_F(ComExchange, StaleBytesBeforeTheCommandAreDrained) {
  ASSERT_EQ(SimCommand("com stale 37627374616c6500"), "OK");
  EXPECT_EQ(Send(MODE_READFIX), 0);
  EXPECT_STREQ(FirmwareVersionText, L"ABC-123 01.23 A");
}

TEST_F(ComExchange, SerialTextLongerThanTheLengthByteIsRefusedAndNothingSent) {
  std::wstring tooLong(256, L'7');
  ASSERT_EQ(SimCommand("com clear"), "OK");
  EXPECT_EQ(Send(MODE_SERIALNO_SET, tooLong.c_str()), PRT_ERR_DATA);
  EXPECT_EQ(SimReceived("com").size(), 0u);
  std::wstring longest(255, L'7');
  EXPECT_EQ(Send(MODE_SERIALNO_SET, longest.c_str()), 0);
  std::vector<unsigned char> got = SimReceived("com");
  ASSERT_EQ(got.size(), 9u + 255u);
  EXPECT_EQ(got[8], 255);
}

TEST_F(ComExchange, WrongHeadersAndTheRetryRules) {
  LogCapture log(L"kit_com_retry");
  ASSERT_EQ(SimCommand("com set fault wrong_header"), "OK");

  // A wrong fixed-settings header ends the wait at once.
  EXPECT_EQ(Send(MODE_READFIX), PRT_ERR_DATA);
  EXPECT_EQ(log.Count("CommandWait MODE_READFIX"), 1);

  // A wrong reset reply (";3" 01) never meets the COM completion rule: three
  // attempts, then no reply.
  log.Clear();
  EXPECT_EQ(Send(MODE_RESET3), PRT_ERR_NOREPLY);
  EXPECT_EQ(log.Count("CommandWait MODE_RESET3"), 3);

  // A wrong variable-settings header is retried; the later attempts see no
  // reply at all, and the wrong answer is what is reported.
  log.Clear();
  wcscpy(SerialNumberText, L"before");
  EXPECT_EQ(Send(MODE_READVARI), PRT_ERR_DATA);
  EXPECT_EQ(log.Count("CommandWait MODE_READVARI"), 3);
  EXPECT_EQ(log.Count("CommandWait Err(PRT_ERR_DATA)"), 1);
  EXPECT_STREQ(SerialNumberText, L"before") << "a failed read keeps the previous text";
}

TEST_F(ComExchange, FixedRepliesOfTheirOwn) {
  struct Case {
    const char* kind;
    uint16_t mode;
    const char* hex;
    int32_t result;
  } cases[] = {
      // 20 characters and CR do not fit the number field.
      {"readfix", MODE_READFIX,
       "3760" "4669726d77617265204e756d626572203132333435363738393031323334353637383930" "0d0a"
       "4669726d776172652056657273696f6e2031" "0d0a00",
       PRT_ERR_FORMAT},
      // Another word in front of the number line.
      {"readfix", MODE_READFIX, "3760" "41206669726d77617265206e756d626572204e0d0a" "4669726d776172652056657273696f6e20310d0a00",
       PRT_ERR_FORMAT},
      {"readvari", MODE_READVARI, "376100", 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(std::string("com reply ") + c.kind + " " + c.hex), "OK");
    EXPECT_EQ(Send(c.mode), c.result) << c.hex;
    ASSERT_EQ(SimCommand(std::string("com reply ") + c.kind + " -"), "OK");
  }
}

TEST_F(ComExchange, ReplySplitAcrossReadsIsAssembled) {
  ASSERT_EQ(SimCommand("com set fault split"), "OK");
  ASSERT_EQ(SimCommand("com set arg 250"), "OK");
  FirmwareVersionText[0] = 0;
  EXPECT_EQ(Send(MODE_READFIX), 0);
  EXPECT_STREQ(FirmwareVersionText, L"ABC-123 01.23 A");
  EXPECT_EQ(Send(MODE_RESET3), 0);
}

TEST_F(ComExchange, ReplyWithoutItsNulIsNoReply) {
  ASSERT_EQ(SimCommand("com set fault no_nul"), "OK");
  EXPECT_EQ(Send(MODE_READFIX), PRT_ERR_NOREPLY);
}

// A waiting exchange sleeps: CPU time stays far below wall time.
TEST_F(ComExchange, SilentPrinterGivesNoReplyWithoutBurningTheProcessor) {
  ASSERT_EQ(SimCommand("com set fault silent"), "OK");
  LogCapture log(L"kit_com_silent");
  ULONGLONG start = GetTickCount64();
  double cpuStart = ProcessCpuMs();
  EXPECT_EQ(Send(MODE_RESET3), PRT_ERR_NOREPLY);
  double wall = static_cast<double>(GetTickCount64() - start);
  double cpu = ProcessCpuMs() - cpuStart;
  printf("silent RESET3: wall %.0f ms, CPU %.1f ms (%.1f%%)\n", wall, cpu, 100.0 * cpu / wall);
  EXPECT_GE(wall, 4000.0);
  EXPECT_LT(cpu, 0.25 * wall) << "wall " << wall << " ms";
  EXPECT_EQ(log.Count("CommandWait MODE_RESET3"), 3);
  EXPECT_EQ(ToHex(SimReceived("com")), "1b3d025245534554331b3d03");
}

}  // namespace
