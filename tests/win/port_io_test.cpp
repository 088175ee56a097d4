// Port I/O against the simulated COM printer: chunking per port kind, the
// readiness checks behind their seams, wait limits, faults of the printer,
// progress controls and the debug log lines.
#include <windows.h>

#include <commctrl.h>
#include <winioctl.h>
#include <ntddpar.h>

#include <gtest/gtest.h>

#include <thread>

#include "core/port_io.h"
#include "core/program_state.h"
#include "core/result_codes.h"
#include "core/send_printer.h"
#include "core_test_support.h"
#include "sim_client.h"

namespace {

// Stand-ins for the device queries that Wine cannot answer.
struct FakeDevice {
  bool dsrFromPrinter = true;
  bool clearCommFails = false;
  int clearCommCalls = 0;
  enum LptMode { kAtOnce, kLater, kNever, kFails } lptMode = kAtOnce;
  BYTE lptStatus = 0;
  int lptCalls = 0;
  std::thread completer;
};
FakeDevice g_fake;

// The serial settings the core last asked for, passed on to the port.
DCB g_requestedComState;
BOOL WINAPI RecordingSetCommState(HANDLE file, LPDCB settings) {
  g_requestedComState = *settings;
  return SetCommState(file, settings);
}

// A port whose serial settings cannot be read or changed.
BOOL WINAPI FailingCommState(HANDLE, LPDCB) {
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}

BOOL WINAPI FakeClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status) {
  ++g_fake.clearCommCalls;
  if (g_fake.clearCommFails) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL ok = ClearCommError(file, errors, status);
  // The line state comes from the simulated printer's "dsr" fault.
  if (ok && g_fake.dsrFromPrinter && SimCommand("com get fault") == "OK dsr") status->fDsrHold = 1;
  return ok;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD returned,
                                LPOVERLAPPED overlapped) {
  ++g_fake.lptCalls;
  if (code != IOCTL_PAR_QUERY_INFORMATION || outSize != 1 || !overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE* status = static_cast<BYTE*>(out);
  switch (g_fake.lptMode) {
    case FakeDevice::kAtOnce:
      *status = g_fake.lptStatus;
      *returned = 1;
      return TRUE;
    case FakeDevice::kLater:
      overlapped->Internal = STATUS_PENDING;
      g_fake.completer = std::thread([=] {
        Sleep(1500);
        *status = g_fake.lptStatus;
        overlapped->InternalHigh = 1;
        overlapped->Internal = 0;
        SetEvent(overlapped->hEvent);
      });
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    case FakeDevice::kNever:
      overlapped->Internal = STATUS_PENDING;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    case FakeDevice::kFails:
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
  }
  return FALSE;
}

class PortIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SimCommand("com reset"), "OK");
    g_fake.dsrFromPrinter = true;
    g_fake.clearCommFails = false;
    g_fake.clearCommCalls = 0;
    g_fake.lptMode = FakeDevice::kAtOnce;
    g_fake.lptStatus = 0;
    g_fake.lptCalls = 0;
    g_portIoSeams = DefaultPortIoSeams();
    g_portIoSeams.clearCommError = FakeClearCommError;
    g_portIoSeams.deviceIoControl = FakeDeviceIoControl;
    g_settings.writingMethod = 1;
    g_settings.comFlowControl = 0;
    g_settings.languageIndex = 1;
    g_program.progressDialog = nullptr;
  }
  void TearDown() override {
    if (g_fake.completer.joinable()) g_fake.completer.join();
    g_portIoSeams = DefaultPortIoSeams();
    g_program.progressDialog = nullptr;
  }

  // Sends a firmware block over COM5 opened as the given port kind.
  int32_t SendBlock(int32_t portKind, const std::vector<unsigned char>& bytes, uint16_t kind = MODE_FWSEND_LAST) {
    const wchar_t* name = portKind == PORT_COM ? kSimComName : kSimComPath;
    PrinterConnection conn = MakeConnection(portKind, kSimComPath, name);
    CommandBuffer buffer = {static_cast<uint32_t>(bytes.size()), GlobalBlock(bytes)};
    int32_t r = SendPrinter(kind, &conn, nullptr, &buffer);
    if (buffer.data) GlobalFree(buffer.data);
    return r;
  }
};

TEST_F(PortIo, ChunkSizeFollowsTheSelectedPortKind) {
  LogCapture log(L"kit_port_chunks");
  std::vector<unsigned char> bytes = FirmwareBytes(100000);
  struct Case {
    int32_t portKind;
    int chunks;
  } cases[] = {{PORT_COM, 13}, {PORT_USB, 2}, {PORT_LPT, 2}};
  for (const Case& c : cases) {
    log.Clear();
    ASSERT_EQ(SimCommand("com clear"), "OK");
    EXPECT_EQ(SendBlock(c.portKind, bytes), 0) << "port kind " << c.portKind;
    EXPECT_EQ(log.Count("PrinterSendData WriteFile Success"), c.chunks) << "port kind " << c.portKind;
    EXPECT_EQ(SimCommand("com count"), "OK 100000") << "port kind " << c.portKind;
  }
  EXPECT_EQ(g_fake.lptCalls, 1);
}

TEST_F(PortIo, FirmwareBlockOfMegabytesArrivesByteForByte) {
  std::vector<unsigned char> bytes = FirmwareBytes(2300000, 7);
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(SendBlock(PORT_COM, bytes), 0);
  printf("2,300,000 bytes over COM5 in %llu ms\n", static_cast<unsigned long long>(GetTickCount64() - start));
  EXPECT_EQ(SimCommand("com wait_count 2300000 5000"), "OK 2300000");
  EXPECT_EQ(SimCommand("com received_crc"), CrcAnswer(bytes)) << "the printer received other bytes than were sent";
  // The control line moves only some kilobytes in reasonable time: the
  // byte-for-byte compare covers a block of that size.
  std::vector<unsigned char> small = FirmwareBytes(10000, 8);
  ASSERT_EQ(SimCommand("com clear"), "OK");
  EXPECT_EQ(SendBlock(PORT_COM, small), 0);
  std::vector<unsigned char> got = SimReceived("com");
  ASSERT_EQ(got.size(), small.size());
  EXPECT_TRUE(got == small) << "the printer received other bytes than were sent";
}

// The open sets 115200 8N1 and the flow control of the writing method; the
// close gives the port its own settings back.
TEST_F(PortIo, ComSettingsAreSetAtOpenAndPutBackAtClose) {
  HANDLE probe = CreateFileW(kSimComPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(probe, INVALID_HANDLE_VALUE);
  DCB own = {};
  own.DCBlength = sizeof(own);
  ASSERT_TRUE(GetCommState(probe, &own));
  own.BaudRate = CBR_9600;
  own.fOutX = FALSE;
  ASSERT_TRUE(SetCommState(probe, &own));
  CloseHandle(probe);

  struct Case {
    int32_t writingMethod, comFlowControl;
    BOOL outX, dsrFlow;
  } cases[] = {{0, 0, FALSE, TRUE}, {0, 1, FALSE, TRUE}, {1, 0, FALSE, TRUE}, {1, 1, TRUE, FALSE}};
  g_portIoSeams.setCommState = RecordingSetCommState;
  for (const Case& c : cases) {
    g_settings.writingMethod = c.writingMethod;
    g_settings.comFlowControl = c.comFlowControl;
    PrinterConnection conn = MakeConnection(PORT_COM, kSimComPath, kSimComName);
    g_requestedComState = {};
    conn.handle = PortOpen(&conn);
    ASSERT_NE(conn.handle, INVALID_HANDLE_VALUE);
    // Wine's serial layer does not report DSR flow control back: the flag is
    // read from the settings the core asked for.
    EXPECT_EQ(g_requestedComState.fOutxDsrFlow, static_cast<DWORD>(c.dsrFlow)) << c.writingMethod << "/" << c.comFlowControl;
    EXPECT_EQ(g_requestedComState.fOutX, static_cast<DWORD>(c.outX)) << c.writingMethod << "/" << c.comFlowControl;
    DCB working = {};
    working.DCBlength = sizeof(working);
    ASSERT_TRUE(GetCommState(conn.handle, &working));
    EXPECT_EQ(working.BaudRate, static_cast<DWORD>(CBR_115200)) << c.writingMethod << "/" << c.comFlowControl;
    EXPECT_EQ(working.ByteSize, 8);
    EXPECT_EQ(working.Parity, NOPARITY);
    EXPECT_EQ(working.StopBits, ONESTOPBIT);
    EXPECT_EQ(working.fOutX, static_cast<DWORD>(c.outX)) << c.writingMethod << "/" << c.comFlowControl;
    // No parity check.
    EXPECT_EQ(working.fParity, static_cast<DWORD>(FALSE));
    EXPECT_EQ(g_savedComState.BaudRate, static_cast<DWORD>(CBR_9600));
    PortClose(conn.handle);

    probe = CreateFileW(kSimComPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    DCB after = {};
    after.DCBlength = sizeof(after);
    ASSERT_TRUE(GetCommState(probe, &after));
    CloseHandle(probe);
    EXPECT_EQ(after.BaudRate, static_cast<DWORD>(CBR_9600)) << "settings not put back";
    EXPECT_EQ(after.fOutX, static_cast<DWORD>(FALSE)) << "settings not put back";
  }
  g_settings.writingMethod = 1;
  g_settings.comFlowControl = 0;

  // Settings that cannot be read or set fail the open: the printer would
  // take the data at whatever speed and format the port had.
  LogCapture log(L"kit_port_comstate");
  const struct {
    bool getFails;
    const char* line;
  } failures[] = {{true, "PortOpen Err(GetCommState 31)"}, {false, "PortOpen Err(SetCommState 31)"}};
  for (const auto& f : failures) {
    g_portIoSeams = DefaultPortIoSeams();
    (f.getFails ? g_portIoSeams.getCommState : g_portIoSeams.setCommState) = FailingCommState;
    EXPECT_EQ(SendBlock(PORT_COM, FirmwareBytes(1000)), PRT_ERR_OPEN) << f.line;
    EXPECT_EQ(log.Count(f.line), 1) << f.line;
    EXPECT_EQ(SimCommand("com count"), "OK 0") << f.line;
  }
}

TEST_F(PortIo, ZeroLengthChecksThePrinterAndWritesNothing) {
  LogCapture log(L"kit_port_zero");
  PrinterConnection conn = MakeConnection(PORT_COM, kSimComPath, kSimComName);
  conn.handle = PortOpen(&conn);
  ASSERT_NE(conn.handle, INVALID_HANDLE_VALUE);
  BYTE byte = 0x41;
  EXPECT_EQ(PrinterSendData(MODE_FWSEND_LAST, &conn, &byte, 0), 0);
  EXPECT_EQ(log.Count("PrinterCheck Success"), 1);
  EXPECT_EQ(log.Count("PrinterSendData WriteFile"), 0);
  PortClose(conn.handle);
  EXPECT_EQ(SimCommand("com count"), "OK 0");
}

TEST_F(PortIo, ReadinessChecksBehindTheirSeams) {
  LogCapture log(L"kit_port_ready");
  std::vector<unsigned char> bytes = FirmwareBytes(1000);

  // DSR held: about two seconds of checks, then not ready, nothing sent.
  ASSERT_EQ(SimCommand("com set fault dsr"), "OK");
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(SendBlock(PORT_COM, bytes), PRT_ERR_SEND);
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, 2000u);
  // The checks are counted; a busy processor stretches them, so the upper
  // limit only proves that they end.
  EXPECT_LT(took, 15000u);
  EXPECT_GE(g_fake.clearCommCalls, 200);
  EXPECT_EQ(log.Count("PrinterSendData Err(PRT_ERR_SEND)"), 1);
  EXPECT_EQ(SimCommand("com count"), "OK 0");
  ASSERT_EQ(SimCommand("com set fault none"), "OK");

  // The status query itself failing is not ready at once.
  g_fake.clearCommFails = true;
  EXPECT_EQ(SendBlock(PORT_COM, bytes), PRT_ERR_SEND);
  g_fake.clearCommFails = false;

  // Parallel port status bits.
  struct Case {
    FakeDevice::LptMode mode;
    BYTE status;
    int32_t result;
  } cases[] = {
      {FakeDevice::kAtOnce, 0x00, 0},
      {FakeDevice::kAtOnce, 0x40, 0},  // busy alone is ready
      {FakeDevice::kAtOnce, PARALLEL_OFF_LINE, PRT_ERR_SEND},
      {FakeDevice::kAtOnce, PARALLEL_POWER_OFF, PRT_ERR_SEND},
      {FakeDevice::kAtOnce, 0x58, PRT_ERR_SEND},
      {FakeDevice::kLater, 0x00, 0},
      {FakeDevice::kLater, PARALLEL_POWER_OFF, PRT_ERR_SEND},
      {FakeDevice::kFails, 0x10, 0},  // status byte stays 0
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand("com clear"), "OK");
    g_fake.lptMode = c.mode;
    g_fake.lptStatus = c.status;
    EXPECT_EQ(SendBlock(PORT_LPT, bytes), c.result) << "mode " << c.mode << " status " << int(c.status);
    EXPECT_EQ(SimCommand("com count"), c.result == 0 ? "OK 1000" : "OK 0") << "mode " << c.mode;
    if (g_fake.completer.joinable()) g_fake.completer.join();
  }

  // A query that never ends is bounded.
  g_portIoSeams.lptStatusLimitMs = 2000;
  g_fake.lptMode = FakeDevice::kNever;
  start = GetTickCount64();
  EXPECT_EQ(SendBlock(PORT_LPT, bytes), PRT_ERR_SEND);
  took = GetTickCount64() - start;
  EXPECT_GE(took, 2000u);
  EXPECT_LT(took, 8000u);
}

TEST_F(PortIo, ReceiveOnComEmptyQueueAndFailingStatus) {
  PrinterConnection conn = MakeConnection(PORT_COM, kSimComPath, kSimComName);
  conn.handle = PortOpen(&conn);
  ASSERT_NE(conn.handle, INVALID_HANDLE_VALUE);
  BYTE buffer[64];
  uint32_t length = sizeof(buffer);
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(PrinterReceiveData(MODE_READFIX, &conn, buffer, &length), PRT_ERR_NOREPLY);
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_EQ(length, 0u);
  EXPECT_GE(took, 1200u) << "four passes of 300 ms";
  EXPECT_LT(took, 3000u);

  g_fake.clearCommFails = true;
  length = sizeof(buffer);
  EXPECT_EQ(PrinterReceiveData(MODE_READFIX, &conn, buffer, &length), PRT_ERR_RECEIVE);
  EXPECT_EQ(length, 0u);
  g_fake.clearCommFails = false;
  PortClose(conn.handle);
}

TEST_F(PortIo, PrinterFaultsWhileSending) {
  LogCapture log(L"kit_port_faults");

  // A slow printer still takes everything.
  ASSERT_EQ(SimCommand("com set fault slow"), "OK");
  ASSERT_EQ(SimCommand("com set arg 20000"), "OK");
  std::vector<unsigned char> bytes = FirmwareBytes(40000, 3);
  EXPECT_EQ(SendBlock(PORT_COM, bytes), 0);
  // The last chunk may still sit in the terminal's buffer.
  EXPECT_EQ(SimCommand("com wait_count 40000 5000"), "OK 40000");
  EXPECT_EQ(SimCommand("com received_crc"), CrcAnswer(bytes));

  // A printer that stops taking data: the wait limit ends the send. With
  // the wait unit shortened, 40 units for a small block, 50 for 5,000,000.
  g_portIoSeams.writeSliceMs = 50;
  ASSERT_EQ(SimCommand("com set arg 100"), "OK");
  struct Case {
    size_t length;
    const char* line;
  } cases[] = {{300000, "PrinterSendData Err(PRT_ERR_SEND(dwLoop >= 40)"},
               {5000000, "PrinterSendData Err(PRT_ERR_SEND(dwLoop >= 50)"}};
  for (const Case& c : cases) {
    ASSERT_EQ(SimCommand("com clear"), "OK");
    log.Clear();
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(SendBlock(PORT_USB, FirmwareBytes(c.length, 5)), PRT_ERR_SEND) << c.length;
    EXPECT_LT(GetTickCount64() - start, 30000u) << c.length;
    EXPECT_EQ(log.Count(c.line), 1) << c.length << "\n" << log.Text().substr(0, 3000);
  }
  g_portIoSeams.writeSliceMs = kWriteSliceMs;
  ASSERT_EQ(SimCommand("com reset"), "OK");
  Sleep(500);  // let the printer swallow what the stopped sends left behind
}

TEST_F(PortIo, CablePulledWhileSending) {
  ASSERT_EQ(SimCommand("com set fault drop"), "OK");
  ASSERT_EQ(SimCommand("com set arg 20000"), "OK");
  ASSERT_EQ(SimCommand("com clear"), "OK");
  EXPECT_EQ(SendBlock(PORT_COM, FirmwareBytes(200000, 9)), PRT_ERR_SEND);
  EXPECT_EQ(SimCommand("com count"), "OK 20000");
  ASSERT_EQ(SimCommand("com reset"), "OK");
  Sleep(300);
}

TEST_F(PortIo, ProgressControlsFollowTheSend) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  HWND dialog = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(dialog, nullptr);
  auto child = [&](const wchar_t* cls, int id) {
    return CreateWindowExW(0, cls, L"", WS_CHILD, 0, 0, 10, 10, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           nullptr, nullptr);
  };
  child(L"STATIC", kIdcProgressIcon);
  child(L"STATIC", kIdcProgressMessage);
  child(L"STATIC", kIdcProgressBytes);
  child(PROGRESS_CLASSW, kIdcProgressBar);
  child(L"STATIC", kIdcProgressWaitLine);
  SetDlgItemTextW(dialog, kIdcProgressWaitLine, L"old");
  g_program.progressDialog = dialog;

  EXPECT_EQ(SendBlock(PORT_COM, FirmwareBytes(50000)), 0);
  wchar_t text[512];
  GetDlgItemTextW(dialog, kIdcProgressBytes, text, 512);
  EXPECT_STREQ(text, L"50000 / 50000 Byte\n100 %");
  GetDlgItemTextW(dialog, kIdcProgressMessage, text, 512);
  EXPECT_EQ(wcsncmp(text, L"Sending the firmware data to the printer...\nPlease wait.", 56), 0) << text;
  EXPECT_EQ(SendDlgItemMessageW(dialog, kIdcProgressBar, PBM_GETPOS, 0, 0), 100);
  EXPECT_EQ(SendDlgItemMessageW(dialog, kIdcProgressBar, PBM_GETRANGE, FALSE, 0), 100);

  // Commands do not touch the progress controls.
  SetDlgItemTextW(dialog, kIdcProgressBytes, L"untouched");
  PrinterConnection conn = MakeConnection(PORT_COM, kSimComPath, kSimComName);
  CommandBuffer buffer = {};
  EXPECT_EQ(SendPrinter(MODE_VERSION_PRINT, &conn, nullptr, &buffer), 0);
  GetDlgItemTextW(dialog, kIdcProgressBytes, text, 512);
  EXPECT_STREQ(text, L"untouched");

  g_program.progressDialog = nullptr;
  DestroyWindow(dialog);
}

// A read on a device path stays pending until the printer answers: the
// receive waits in 5,000 ms slices asleep, and the read it gives up is
// cancelled before its buffer goes.
TEST_F(PortIo, PendingReadTimesOutAsleep) {
  ASSERT_EQ(SimCommand("com set fault silent"), "OK");
  PrinterConnection conn = MakeConnection(PORT_USB, kSimComPath, kSimComPath);
  conn.handle = PortOpen(&conn);
  ASSERT_NE(conn.handle, INVALID_HANDLE_VALUE);
  BYTE buffer[128];
  uint32_t length = sizeof(buffer);
  double cpu = ProcessCpuMs();
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(PrinterReceiveData(MODE_READFIX, &conn, buffer, &length), PRT_ERR_NOREPLY);
  double wall = static_cast<double>(GetTickCount64() - start);
  cpu = ProcessCpuMs() - cpu;
  printf("pending read timed out: wall %.0f ms, CPU %.1f ms (%.1f%%)\n", wall, cpu, 100.0 * cpu / wall);
  EXPECT_EQ(length, 0u);
  EXPECT_GE(wall, 5000.0);
  EXPECT_LT(cpu, 0.25 * wall);

  // A reply shorter than the read still arrives once the read is given up.
  ASSERT_EQ(SimCommand("com set fault none"), "OK");
  const BYTE readFix[] = {0x1D, 0x65, 'R', 'E', 'A', 'D', 'F', 'I', 'X'};
  DWORD written = 0;
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!WriteFile(conn.handle, readFix, sizeof(readFix), &written, &ov)) GetOverlappedResult(conn.handle, &ov, &written, TRUE);
  CloseHandle(ov.hEvent);
  length = sizeof(buffer);
  int32_t r = PrinterReceiveData(MODE_READFIX, &conn, buffer, &length);
  EXPECT_EQ(r, 0) << "the reply read before the cancel was lost";
  EXPECT_EQ(length, 76u);
  PortClose(conn.handle);
}

// Lines of one successful fixed-settings read, in order.
TEST_F(PortIo, DebugLogLinesOfOneExchange) {
  LogCapture log(L"kit_port_log");
  PrinterConnection conn = MakeConnection(PORT_COM, kSimComPath, kSimComName);
  CommandBuffer buffer = {};
  ASSERT_EQ(SendPrinter(MODE_READFIX, &conn, nullptr, &buffer), 0);

  std::string text = log.Text();
  // Every line starts with "[hh:mm:ss:mmm] ".
  size_t pos = 0;
  int lines = 0;
  while (pos < text.size()) {
    ASSERT_GE(text.size() - pos, 15u);
    EXPECT_TRUE(text[pos] == '[' && text[pos + 3] == ':' && text[pos + 6] == ':' && text[pos + 9] == ':' &&
                text[pos + 13] == ']' && text[pos + 14] == ' ')
        << text.substr(pos, 40);
    pos = text.find("\r\n[", pos);
    pos = pos == std::string::npos ? text.size() : pos + 2;
    ++lines;
  }
  EXPECT_GT(lines, 40);

  const char* expected[] = {
      ">>>>>>>>>>>>>>>>>", "SendPrinter Start", ">>>>>>>>>>>>>>>>>", "PortOpen Start", "Port = COM5",
      "PortOpen Success", "PortOpen End", "<<<<<<<<<<<<<<<<<", "SendPrinter (MODE_READFIX Command Set)",
      "SendPrinter (MODE_BFCLEAR Command Receive)", ">>>>>>>>>>>>>>>>>", "PrinterReceiveData Start",
      "PrinterReceiveData NoData", "PrinterReceiveData End", "<<<<<<<<<<<<<<<<<", "SendPrinter (Command Send)",
      ">>>>>>>>>>>>>>>>>", "PrinterSendData Start", ">>>>>>>>>>>>>>>>>", "PrinterCheck Start", "PrinterCheck Success",
      "PrinterCheck End", "<<<<<<<<<<<<<<<<<", "PrinterSendData WriteFile", "PrinterSendData WriteFile Success",
      "PrinterSendData End", "<<<<<<<<<<<<<<<<<", ">>>>>>>>>>>>>>>>>", "CommandWait Start", "CommandWait MODE_READFIX",
      ">>>>>>>>>>>>>>>>>", "PrinterReceiveData Start", "PrinterReceiveData ReadFile", "PrinterReceiveData Success",
      "ReceiveData = 76 Byte", "***********************************************",
      "PrinterReceiveData End", "<<<<<<<<<<<<<<<<<", "CommandWait Success", "CommandWait End", "<<<<<<<<<<<<<<<<<",
      "PortClose Start", ">>>>>>>>>>>>>>>>>", "PortClose Success", "PortClose End", "<<<<<<<<<<<<<<<<<",
      "SendPrinter End", "<<<<<<<<<<<<<<<<<"};
  std::vector<std::string> got = log.Lines();
  size_t at = 0;
  for (const char* line : expected) {
    size_t found = at;
    while (found < got.size() && got[found] != line) ++found;
    ASSERT_LT(found, got.size()) << "missing in order: \"" << line << "\" after line " << at << "\n" << text;
    at = found + 1;
  }
  // The dump's first line: the reply's first 16 bytes and their characters.
  EXPECT_NE(text.find("37,60,46,69,72,6d,77,61,72,65,20,4e,75,6d,62,65     7`Firmware Numbe\r"), std::string::npos);
}

}  // namespace

namespace {
BOOL WINAPI CancelThatNeverEnds(HANDLE) { return TRUE; }
}  // namespace

// A driver that never ends a cancelled read: the receive still returns within
// its wait plus the cancel limit, and the read that completes later does not
// write into the caller's buffer.
TEST_F(PortIo, AReadThatOutlivesItsCancelIsBoundedAndWritesNothing) {
  const wchar_t* name = L"\\\\.\\pipe\\kit_port_io_cancel";
  HANDLE server = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 4096, 4096, 0,
                                   nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  PrinterConnection conn = MakeConnection(PORT_USB, name, name);
  conn.handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(conn.handle, INVALID_HANDLE_VALUE);
  g_portIoSeams.cancelIo = CancelThatNeverEnds;
  BYTE buffer[64];
  uint32_t length = sizeof(buffer);
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread receiver([&] {
    PrinterReceiveData(MODE_READFIX, &conn, buffer, &length);
    SetEvent(ended);
  });
  const bool returned = WaitForSingleObject(ended, 12000) == WAIT_OBJECT_0;
  EXPECT_TRUE(returned) << "the receive waits for ever on the cancelled read";
  const std::string atReturn(reinterpret_cast<char*>(buffer), sizeof(buffer));
  // The printer's reply comes after all: it completes the pending read.
  DWORD written = 0;
  OVERLAPPED ov = {};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!WriteFile(server, "late reply bytes", 16, &written, &ov)) GetOverlappedResult(server, &ov, &written, TRUE);
  CloseHandle(ov.hEvent);
  receiver.join();
  Sleep(300);
  if (returned) {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof(buffer)), atReturn) << "written after the return";
  }
  CloseHandle(ended);
  CloseHandle(conn.handle);
  CloseHandle(server);
}

// Error lines are the exact texts; the system's error number follows on a
// line of its own, after the name of the call that failed.
TEST_F(PortIo, ErrorLinesAreExactWithTheNumberOnALineOfItsOwn) {
  LogCapture log(L"kit_port_exact");
  PrinterConnection conn = MakeConnection(PORT_COM, kSimComPath, kSimComName);
  conn.handle = PortOpen(&conn);
  ASSERT_NE(conn.handle, INVALID_HANDLE_VALUE);
  g_fake.clearCommFails = true;
  EXPECT_EQ(PrinterCheck(&conn), 0);
  BYTE buffer[16];
  uint32_t length = sizeof(buffer);
  EXPECT_EQ(PrinterReceiveData(MODE_READFIX, &conn, buffer, &length), PRT_ERR_RECEIVE);
  g_fake.clearCommFails = false;
  PortClose(conn.handle);
  HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(closed);
  g_settings.portKind = PORT_USB;
  PortClose(closed);

  const struct {
    const char* line;
    const char* call;
  } cases[] = {{"PrinterCheck Err(DSR)", "ClearCommError "},
               {"PrinterReceiveData Err(PRT_ERR_RECEIVE)", "ClearCommError "},
               {"PortClose Err(CloseHandle)", "CloseHandle "}};
  const std::vector<std::string> lines = log.Lines();
  for (const auto& c : cases) {
    size_t at = 0;
    while (at < lines.size() && lines[at] != c.line) ++at;
    ASSERT_LT(at + 1, lines.size()) << c.line << " missing";
    EXPECT_EQ(lines[at + 1].rfind(c.call, 0), 0u) << c.line << " followed by " << lines[at + 1];
  }
}

// A port that cannot be opened: -40 for every kind, and the command block
// handed in is freed all the same.
TEST_F(PortIo, APortThatFailsToOpenGivesMinus40AndFreesTheBlock) {
  const struct {
    int32_t kind;
    const wchar_t* path;
  } cases[] = {{PORT_COM, L"\\\\.\\COM77"}, {PORT_USB, L"\\\\?\\usb#vid_fe5a&pid_0000#none#{x}"},
               {PORT_LPT, L"\\\\.\\LPT9"}};
  for (const auto& c : cases) {
    PrinterConnection conn = MakeConnection(c.kind, c.path, c.path);
    CommandBuffer buffer = {16, static_cast<BYTE*>(GlobalAlloc(GPTR, 16))};
    ASSERT_NE(buffer.data, nullptr);
    EXPECT_EQ(SendPrinter(MODE_READFIX, &conn, nullptr, &buffer), PRT_ERR_OPEN) << c.kind;
    EXPECT_EQ(buffer.data, nullptr) << c.kind << ": block not freed";
  }
}

namespace {
std::vector<std::wstring>* g_waitLineTexts = nullptr;
WNDPROC g_staticProc = nullptr;
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && g_waitLineTexts) g_waitLineTexts->push_back(reinterpret_cast<const wchar_t*>(lParam));
  return CallWindowProcW(g_staticProc, window, message, wParam, lParam);
}
}  // namespace

// The wait line while a slow printer holds a chunk: the text of the
// language with 1 to 21 dots, then 1 again; cleared when the chunk is done.
// With the short wait unit and a slower printer the chunk far outlasts the
// limit (the dots wrap); with the longer unit it ends well in time (the line
// is cleared). Both margins hold on a busy machine.
TEST_F(PortIo, WaitLineDotsCountAndClear) {
  ASSERT_EQ(SimCommand("com set fault slow"), "OK");
  const struct {
    int language;
    const wchar_t* prefix;
    DWORD sliceMs;
    int bytesPerSecond;
    int32_t result;
  } cases[] = {{1, L"Writing Flash ROM ", 40, 2000, PRT_ERR_SEND},
               {0, L"Flash\u66f8\u8fbc\u307f\u4e2d ", 400, 8000, 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(SimCommand("com set arg " + std::to_string(c.bytesPerSecond)), "OK");
    g_settings.languageIndex = c.language;
    g_portIoSeams.writeSliceMs = c.sliceMs;
    HWND dialog = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr,
                                  nullptr);
    HWND waitLine = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, dialog,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdcProgressWaitLine)), nullptr, nullptr);
    std::vector<std::wstring> texts;
    g_waitLineTexts = &texts;
    g_staticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(waitLine, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
    g_program.progressDialog = dialog;
    EXPECT_EQ(SendBlock(PORT_COM, FirmwareBytes(24576)), c.result) << c.language;
    g_program.progressDialog = nullptr;
    g_waitLineTexts = nullptr;
    DestroyWindow(dialog);

    size_t dots = 0;
    int ticks = 0;
    for (const std::wstring& t : texts) {
      if (t.empty()) {
        dots = 0;
        continue;
      }
      ++ticks;
      ASSERT_EQ(t.compare(0, wcslen(c.prefix), c.prefix), 0) << c.language;
      const size_t now = t.size() - wcslen(c.prefix);
      EXPECT_EQ(t.find_first_not_of(L'.', wcslen(c.prefix)), std::wstring::npos) << c.language;
      EXPECT_EQ(now, dots == 21 ? 1u : dots + 1) << c.language << " after " << dots << " dots";
      dots = now;
    }
    ASSERT_FALSE(texts.empty()) << c.language << ": the printer never held a chunk";
    if (c.result == 0) {
      EXPECT_TRUE(texts.back().empty()) << c.language << ": wait line not cleared";
    } else {
      EXPECT_GT(ticks, 21) << c.language << ": the dots never started again";
    }
    ASSERT_EQ(SimCommand("com set arg 1000000"), "OK");
    Sleep(500);  // let the printer swallow what a stopped send left behind
  }
  g_portIoSeams.writeSliceMs = kWriteSliceMs;
  g_settings.languageIndex = 1;
  ASSERT_EQ(SimCommand("com reset"), "OK");
}
