// Printer commands and firmware over LAN through both binding slots: lanquay
// in slot 1 and the test stand-in in slot 0, to printers simulated on
// loopback addresses.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/command_kinds.h"
#include "core/firmware_file.h"
#include "core/net_binding.h"
#include "core/net_library.h"
#include "core/port_io.h"
#include "core/printer_connection.h"
#include "core/printer_search.h"
#include "core/program_state.h"
#include "core/result_codes.h"
#include "core/send_printer.h"
#include "core/settings_types.h"
#include "net_test_support.h"
#include "sim_client.h"

namespace {

const char* const kSlotNames[kNetSlotCount] = {"stand-in (slot 0)", "lanquay (slot 1)"};

PrinterConnection LanConnection(const std::string& host) {
  PrinterConnection connection = {};
  connection.portKind = PORT_LAN;
  connection.handle = INVALID_HANDLE_VALUE;
  for (size_t i = 0; i < host.size() && i + 1 < kPortNameChars; ++i) connection.portName[i] = host[i];
  return connection;
}

size_t CountLines(const std::vector<std::string>& lines, const std::string& line) {
  size_t n = 0;
  for (const std::string& l : lines) n += l == line;
  return n;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

class NetLanExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    g_program.instance = GetModuleHandleW(nullptr);
    g_program.progressDialog = nullptr;
    g_settings.portKind = PORT_LAN;
    g_settings.languageIndex = 1;
    ASSERT_TRUE(folder_.Add(SXSTUB_DLL, L"SxJcp32.dll"));
    ASSERT_TRUE(folder_.Add(LANQUAY_DLL, L"lanquay.dll"));
    ASSERT_TRUE(LoadNetLibraries());
    ASSERT_NE(g_netLibraries[0].module, nullptr);
    ASSERT_NE(g_netLibraries[1].module, nullptr);
    // The printers are shared with earlier test programs: a connection one
    // of them left behind may still be delivering data. The drop fault ends
    // such a connection at its next read; then the printer starts afresh.
    for (int n = 2; n <= 4; ++n) {
      ASSERT_EQ(SimCommand(SimHost(n) + " set arg 1"), "OK");
      ASSERT_EQ(SimCommand(SimHost(n) + " set fault drop"), "OK");
    }
    Sleep(300);
    for (int n = 2; n <= 4; ++n) {
      ASSERT_EQ(SimCommand(SimHost(n) + " reset"), "OK");
      WaitUntilQuiet(SimHost(n));
      ASSERT_EQ(SimCommand(SimHost(n) + " clear"), "OK");
    }
    folder_.TakeLog();
  }
  // Waits until the printer's byte count stops growing (at most 20 s).
  static void WaitUntilQuiet(const std::string& host) {
    std::string last = SimCommand(host + " count");
    for (int i = 0; i < 100; ++i) {
      Sleep(200);
      std::string now = SimCommand(host + " count");
      if (now == last) return;
      last = now;
    }
  }
  void TearDown() override {
    UnloadNetLibraries();
    g_program.netSlot = 1;
  }
  NetTestFolder folder_;
};

}  // namespace

TEST_F(NetLanExchange, ReadFixResetAndReadVari) {
  for (int slot = 0; slot < kNetSlotCount; ++slot) {
    g_program.netSlot = slot;
    const std::string host = SimHost(2);
    ASSERT_EQ(SimCommand(host + " reset"), "OK");
    ASSERT_EQ(SimCommand(host + " set serial SN" + std::to_string(4711 + slot)), "OK");
    PrinterConnection connection = LanConnection(host);
    CommandBuffer buffer = {};

    EXPECT_EQ(SendPrinter(MODE_READFIX, &connection, nullptr, &buffer), PRT_SUCCESS) << kSlotNames[slot];
    EXPECT_EQ(Narrow(FirmwareVersionText), "ABC-123 01.23 A") << kSlotNames[slot];
    EXPECT_EQ(SendPrinter(MODE_RESET3, &connection, nullptr, &buffer), PRT_SUCCESS) << kSlotNames[slot];
    EXPECT_EQ(SendPrinter(MODE_READVARI, &connection, nullptr, &buffer), PRT_SUCCESS) << kSlotNames[slot];
    EXPECT_EQ(Narrow(SerialNumberText), "SN" + std::to_string(4711 + slot)) << kSlotNames[slot];
    EXPECT_EQ(buffer.data, nullptr) << kSlotNames[slot];

    // Each command goes out after one 00 byte that wakes a network printer.
    const std::string expected = std::string("\0", 1) + "\x1d" "eREADFIX" + std::string("\0", 1) +
                                 "\x1b=\x02RESET3\x1b=\x03" + std::string("\0", 1) + "\x1d" "eREADVARI";
    std::vector<unsigned char> got = SimReceivedBulk(host);
    EXPECT_EQ(std::string(got.begin(), got.end()), expected) << kSlotNames[slot];

    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_EQ(CountLines(log, "PortOpen Success"), 3u) << kSlotNames[slot] << "\n" << JoinLines(log);
    EXPECT_EQ(CountLines(log, "CommandWait Success"), 2u) << kSlotNames[slot] << "\n" << JoinLines(log);
    EXPECT_EQ(CountLines(log, "CommandWait MODE_RESET3"), 1u) << kSlotNames[slot] << "\n" << JoinLines(log);
  }
}

// Bytes a printer sent unasked when the connection opened are drained before
// the command and never taken for its reply.
TEST_F(NetLanExchange, StaleBytesBeforeTheCommandAreDrained) {
  for (int slot = 0; slot < kNetSlotCount; ++slot) {
    g_program.netSlot = slot;
    const std::string host = SimHost(2);
    ASSERT_EQ(SimCommand(host + " reset"), "OK");
    ASSERT_EQ(SimCommand(host + " stale 37627374616c6500"), "OK");
    PrinterConnection connection = LanConnection(host);
    CommandBuffer buffer = {};
    EXPECT_EQ(SendPrinter(MODE_READFIX, &connection, nullptr, &buffer), PRT_SUCCESS) << kSlotNames[slot];
    EXPECT_EQ(Narrow(FirmwareVersionText), "ABC-123 01.23 A") << kSlotNames[slot];
    folder_.TakeLog();
  }
}

// The printer answers the reset once, wrongly. Three attempts read the
// reply; the first finds the wrong bytes, the later ones find nothing more,
// and the wrong data is what is reported.
TEST_F(NetLanExchange, WrongResetReplyFailsAfterThreeAttempts) {
  for (int slot = 0; slot < kNetSlotCount; ++slot) {
    g_program.netSlot = slot;
    const std::string host = SimHost(3);
    ASSERT_EQ(SimCommand(host + " reply reset3 3b3301"), "OK");
    PrinterConnection connection = LanConnection(host);
    CommandBuffer buffer = {};
    int32_t result = SendPrinter(MODE_RESET3, &connection, nullptr, &buffer);
    EXPECT_EQ(result, PRT_ERR_DATA) << kSlotNames[slot];
    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_EQ(CountLines(log, "CommandWait MODE_RESET3"), 3u) << kSlotNames[slot] << "\n" << JoinLines(log);
    EXPECT_GE(CountLines(log, "CommandWait Err(PRT_ERR_DATA)"), 1u) << kSlotNames[slot] << "\n" << JoinLines(log);
    EXPECT_EQ(CountLines(log, "CommandWait Success"), 0u) << kSlotNames[slot];
    EXPECT_TRUE(HasLogRun(log, {"SendPrinter End", "<<<<<<<<<<<<<<<<<"})) << JoinLines(log);
  }
}

// One firmware block to three printers: kinds 14, 14, 15. The block stays
// with the caller until the last printer has it, and each printer receives
// it whole.
TEST_F(NetLanExchange, FirmwareToThreePrinters) {
  const uint32_t kBytes = 200000;  // several chunks and many library pieces
  for (int slot = 0; slot < kNetSlotCount; ++slot) {
    g_program.netSlot = slot;
    std::vector<unsigned char> firmware(kBytes);
    for (uint32_t i = 0; i < kBytes; ++i) firmware[i] = static_cast<unsigned char>((i * 7 + i / 251 + slot) & 0xFF);
    CommandBuffer block = {kBytes, static_cast<BYTE*>(GlobalAlloc(GPTR, kBytes))};
    ASSERT_NE(block.data, nullptr);
    memcpy(block.data, firmware.data(), kBytes);
    for (int n = 2; n <= 4; ++n) ASSERT_EQ(SimCommand(SimHost(n) + " clear"), "OK");

    const uint16_t kinds[3] = {MODE_FWSEND, MODE_FWSEND, MODE_FWSEND_LAST};
    for (int p = 0; p < 3; ++p) {
      PrinterConnection connection = LanConnection(SimHost(2 + p));
      EXPECT_EQ(SendPrinter(kinds[p], &connection, nullptr, &block), PRT_SUCCESS) << kSlotNames[slot] << " printer " << p;
      if (p < 2) {
        ASSERT_NE(block.data, nullptr) << kSlotNames[slot] << ": block freed before the last printer";
        EXPECT_EQ(memcmp(block.data, firmware.data(), kBytes), 0) << "the block is left as it was";
      }
    }
    EXPECT_EQ(block.data, nullptr) << kSlotNames[slot] << ": block freed after the last printer";
    if (block.data) GlobalFree(block.data);

    for (int n = 2; n <= 4; ++n) {
      EXPECT_EQ(SimCommand(SimHost(n) + " wait_count " + std::to_string(kBytes) + " 10000"),
                "OK " + std::to_string(kBytes))
          << kSlotNames[slot] << " " << SimHost(n);
      std::vector<unsigned char> got = SimReceivedBulk(SimHost(n));
      EXPECT_TRUE(got == firmware) << kSlotNames[slot] << " " << SimHost(n) << ": got " << got.size()
                                   << " bytes, expected " << kBytes;
    }
    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_EQ(CountLines(log, "PortOpen Success"), 3u) << kSlotNames[slot] << "\n" << JoinLines(log);
    EXPECT_EQ(CountLines(log, "SendPrinter End"), 3u) << kSlotNames[slot];
    EXPECT_EQ(CountLines(log, "PrinterSendData End"), 3u) << kSlotNames[slot];
    EXPECT_EQ(CountLines(log, "PrinterSendData WriteFile Success"), 3u * ((kBytes + 65535) / 65536))
        << kSlotNames[slot] << "\n" << JoinLines(log);
  }
}

// The whole road of one firmware file: read into FirmwareData, then written
// through lanquay to three printers, each of which receives the file whole.
TEST_F(NetLanExchange, OneFirmwareFileToThreeLanPrinters) {
  const uint32_t kBytes = 600000;
  std::vector<unsigned char> file(kBytes);
  for (uint32_t i = 0; i < kBytes; ++i) file[i] = static_cast<unsigned char>((i % 253) ^ (i >> 9));
  const std::wstring path = folder_.path() + L"\\firmware.hex";
  FILE* out = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(fwrite(file.data(), 1, kBytes, out), kBytes);
  fclose(out);

  g_settings.writingMethod = 0;  // rewrite all area: a .hex file
  g_program.netSlot = kNetSlotLanquay;
  ASSERT_EQ(PrepareFirmware(path.c_str(), nullptr, &FirmwareData), PRT_SUCCESS);
  ASSERT_EQ(FirmwareData.length, kBytes);
  folder_.TakeLog();

  const uint16_t kinds[3] = {MODE_FWSEND, MODE_FWSEND, MODE_FWSEND_LAST};
  for (int p = 0; p < 3; ++p) {
    PrinterConnection connection = LanConnection(SimHost(2 + p));
    EXPECT_EQ(SendPrinter(kinds[p], &connection, nullptr, &FirmwareData), PRT_SUCCESS) << SimHost(2 + p);
    EXPECT_EQ(FirmwareData.data == nullptr, p == 2) << "after printer " << p;
    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_TRUE(HasLogRun(log, {">>>>>>>>>>>>>>>>>", "SendPrinter Start", ">>>>>>>>>>>>>>>>>", "PortOpen Start",
                                "Port = " + SimHost(2 + p), "PortOpen Success", "PortOpen End",
                                "<<<<<<<<<<<<<<<<<", "SendPrinter (Command Send)", ">>>>>>>>>>>>>>>>>",
                                "PrinterSendData Start"}))
        << JoinLines(log);
    EXPECT_EQ(CountLines(log, "PrinterSendData WriteFile Success"), (kBytes + 65535) / 65536) << JoinLines(log);
    EXPECT_TRUE(HasLogRun(log, {"PrinterSendData End", "<<<<<<<<<<<<<<<<<", "PortClose Start"})) << JoinLines(log);
    EXPECT_TRUE(HasLogRun(log, {"PortClose End", "<<<<<<<<<<<<<<<<<", "SendPrinter End", "<<<<<<<<<<<<<<<<<"}))
        << JoinLines(log);
  }
  if (FirmwareData.data) GlobalFree(FirmwareData.data);
  FirmwareData = {0, nullptr};

  for (int n = 2; n <= 4; ++n) {
    EXPECT_EQ(SimCommand(SimHost(n) + " wait_count " + std::to_string(kBytes) + " 10000"), "OK " + std::to_string(kBytes));
    std::vector<unsigned char> got = SimReceivedBulk(SimHost(n));
    EXPECT_TRUE(got == file) << SimHost(n) << ": got " << got.size() << " bytes, expected " << kBytes;
  }
}

// Print Version has no reply: only the close tells whether the printer took
// the command. One that read it and then closed its side is sound; one that
// had closed before the command came lost it.
TEST_F(NetLanExchange, PrintVersionIsJudgedByTheClose) {
  g_program.netSlot = kNetSlotLanquay;
  const std::string host = SimHost(2);
  struct Case {
    const char* fault;
    int32_t result;
  } cases[] = {{"none", PRT_SUCCESS}, {"close_after", PRT_SUCCESS}, {"close_at_once", PRT_ERR_SEND}};
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host + " reset"), "OK");
    ASSERT_EQ(SimCommand(host + " set fault " + c.fault), "OK");
    PrinterConnection connection = LanConnection(host);
    CommandBuffer buffer = {};
    EXPECT_EQ(SendPrinter(MODE_VERSION_PRINT, &connection, nullptr, &buffer), c.result) << c.fault;
    folder_.TakeLog();
  }
  ASSERT_EQ(SimCommand(host + " reset"), "OK");
}

// Ends the printer's fault when a row outlasts its bound; Stop() joins the
// thread and says whether it had to.
struct StallWatchdog {
  std::string host;
  DWORD boundMs;
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool fired = false;
  HANDLE thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  static DWORD WINAPI Run(void* self) {
    auto* w = static_cast<StallWatchdog*>(self);
    if ((w->fired = WaitForSingleObject(w->stop, w->boundMs) == WAIT_TIMEOUT)) SimCommand(w->host + " set fault none");
    return 0;
  }
  bool Stop() {
    SetEvent(stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(stop);
    return fired;
  }
};

// A printer that stops reading for longer than lanquay's own limit (five
// limits of 1 s here) while it erases its flash is given the grace a USB
// printer gets for the block: 83 waits of one write slice (shortened to
// 150 ms here) for each chunk. One that never reads again still fails,
// within that time and one more call of the library.
TEST_F(NetLanExchange, PausingPrinterGetsTheGraceOfAUsbPrinter) {
  g_program.netSlot = kNetSlotLanquay;
  const std::string host = SimHost(3);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\NWD_QUAYDLL", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const DWORD one = 1;
  for (const char* name : {"TIME", "RETRY"}) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
  }
  g_portIoSeams.writeSliceMs = 150;
  const uint32_t kBytes = 8 * 1024 * 1024;  // more than the socket buffers hold
  const DWORD kBoundMs = 83u * 150u + 5000u + 3000u;
  CommandBuffer block = {kBytes, static_cast<BYTE*>(GlobalAlloc(GPTR, kBytes))};
  ASSERT_NE(block.data, nullptr);
  struct Case {
    const char* fault;
    int32_t result;
  } cases[] = {{"pause", PRT_SUCCESS}, {"stall", PRT_ERR_SEND}};
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host + " reset"), "OK");
    // A window small enough that the buffers fill, big enough that the
    // printer takes the rest quickly once it reads again.
    ASSERT_EQ(SimCommand(host + " set rcvbuf 65536"), "OK");
    ASSERT_EQ(SimCommand(host + " set arg 11000"), "OK");
    ASSERT_EQ(SimCommand(host + " set fault " + c.fault), "OK");
    PrinterConnection connection = LanConnection(host);
    const DWORD start = GetTickCount();
    StallWatchdog watchdog{host, kBoundMs};
    const int32_t result = SendPrinter(MODE_FWSEND, &connection, nullptr, &block);
    const DWORD took = GetTickCount() - start;
    EXPECT_FALSE(watchdog.Stop()) << c.fault << ": the write was still running after " << kBoundMs
                                  << " ms; the test ended the printer's fault to stop it (it took " << took << " ms)";
    EXPECT_EQ(result, c.result) << c.fault;
    if (c.result == PRT_SUCCESS) {
      EXPECT_EQ(SimCommand(host + " wait_count " + std::to_string(kBytes) + " 10000"), "OK " + std::to_string(kBytes));
    }
    folder_.TakeLog();
  }
  GlobalFree(block.data);
  g_portIoSeams.writeSliceMs = kWriteSliceMs;
  RegDeleteValueA(key, "TIME");
  RegDeleteValueA(key, "RETRY");
  RegCloseKey(key);
  ASSERT_EQ(SimCommand(host + " reset"), "OK");
}

TEST_F(NetLanExchange, PrinterNotListening) {
  for (int slot = 0; slot < kNetSlotCount; ++slot) {
    g_program.netSlot = slot;
    PrinterConnection connection = LanConnection(SimHost(9));  // nobody listens there
    CommandBuffer block = {16, static_cast<BYTE*>(GlobalAlloc(GPTR, 16))};
    EXPECT_EQ(SendPrinter(MODE_FWSEND_LAST, &connection, nullptr, &block), PRT_ERR_OPEN) << kSlotNames[slot];
    EXPECT_EQ(block.data, nullptr) << kSlotNames[slot] << ": the last printer's block is freed on failure too";
    std::vector<std::string> log = folder_.TakeLog();
    EXPECT_TRUE(HasLogRun(log, {"PortOpen Err(INVALID_HANDLE_VALUE)", "PortOpen End"})) << JoinLines(log);
    EXPECT_TRUE(HasLogRun(log, {"SendPrinter Err(PRT_ERR_PORT_OPEN)"})) << JoinLines(log);
  }
}

// Hostile printers through lanquay: endless bytes, a reply far longer than
// any buffer, one byte a second, on the command port (device ID) and the
// data port (a version read). Each call ends in bounded time, writes
// nothing past the record or the model buffer, and reports either the
// printer's true values or a failure, never a bogus model or version.
TEST_F(NetLanExchange, HostilePrintersGiveTrueValuesOrAFailure) {
  g_program.netSlot = kNetSlotLanquay;
  const std::string host = SimHost(2);
  struct Case {
    const char* fault;
    int arg;
  } cases[] = {{"endless", 0}, {"long", 100000}, {"trickle", 1000}};
  PROCESS_MEMORY_COUNTERS before = {};
  ASSERT_TRUE(K32GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand(host + " reset"), "OK");
    ASSERT_EQ(SimCommand(host + " set fault " + c.fault), "OK");
    ASSERT_EQ(SimCommand(host + " set arg 11000"), "OK");
    struct Guarded {
      LanPrinterRecord record;
      char model[kModelBufferBytes];
      unsigned char guard[64];
    } out;
    memset(&out, 0x5A, sizeof(out));
    DWORD start = GetTickCount();
    const int32_t result = GetDeviceID(host.c_str(), out.model, &out.record, kNetSlotLanquay);
    EXPECT_LT(GetTickCount() - start, 6000u) << c.fault << ": device ID";
    if (result == PRT_SUCCESS) {
      EXPECT_STREQ(out.model, "KM-510") << c.fault;
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.guard), sizeof(out.guard)), std::string(sizeof(out.guard), 0x5A))
        << c.fault << ": written past the model buffer";

    PrinterConnection connection = LanConnection(host);
    CommandBuffer buffer = {};
    memset(FirmwareVersionText, 0, sizeof(FirmwareVersionText));
    start = GetTickCount();
    const int32_t readResult = SendPrinter(MODE_READFIX, &connection, nullptr, &buffer);
    // A silent printer's version read takes about 12 s (three attempts of
    // four receive passes); these take no longer on an idle machine (5 to
    // 12 s). The passes are counted, and a busy processor stretches each
    // read of endless bytes, so the limit only proves that the read ends.
    EXPECT_LT(GetTickCount() - start, 45000u) << c.fault << ": version read";
    if (readResult == PRT_SUCCESS) {
      EXPECT_EQ(Narrow(FirmwareVersionText), "ABC-123 01.23 A") << c.fault;
    }
    folder_.TakeLog();
  }
  // Endless bytes are read in fixed buffers, never gathered.
  PROCESS_MEMORY_COUNTERS after = {};
  ASSERT_TRUE(K32GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
  EXPECT_LT(after.PagefileUsage, before.PagefileUsage + (8u << 20)) << "private bytes grew";
  ASSERT_EQ(SimCommand(host + " reset"), "OK");
}
