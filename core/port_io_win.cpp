#include "port_io.h"

#include <commctrl.h>
#include <winioctl.h>
#include <ntddpar.h>

#include <cstdio>
#include <cstring>

#include "debug_log.h"
#include "hex_dump.h"
#include "lan_chunk.h"
#include "net_binding.h"
#include "program_state.h"
#include "result_codes.h"
#include "settings_types.h"

PortIoSeams DefaultPortIoSeams() {
  return {ClearCommError, DeviceIoControl, kLptStatusLimitMs, kWriteSliceMs, CancelIo, SetCommState, GetCommState};
}

PortIoSeams g_portIoSeams = DefaultPortIoSeams();
DCB g_savedComState = {};

namespace {

// False when GetCommState failed at open: nothing is put back at close then.
bool g_savedComValid = false;

BOOL ApplyComState(HANDLE handle, DCB* settings) {
  return (g_portIoSeams.setCommState ? g_portIoSeams.setCommState : SetCommState)(handle, settings);
}

constexpr int kLanOpenAttempts = 3;
constexpr int kLanRecvTries = 10;
constexpr int kDsrChecks = 200;
constexpr int kWaitLineDots = 20;

const wchar_t* const kSendingText[2] = {
    L"ファームウェアデータをプリンタに送信しています...\nしばらくお待ちください。\n注意）Flash書込みが完了するまでは、\nプリンタの電源を切らないでください。",
    L"Sending the firmware data to the printer...\nPlease wait.\nNote) Do not turn off the printer until all the "
    L"data has been written to the Flash ROM.",
};
const wchar_t* const kWaitLineFormat[2] = {L"Flash書込み中 %ls", L"Writing Flash ROM %ls"};

void LogEnter(const char* name) {
  WriteDebugLog(kLogEnter);
  DebugLogF("%s Start", name);
}

void LogLeave(const char* name) {
  DebugLogF("%s End", name);
  WriteDebugLog(kLogLeave);
}

int LanguageIndex() { return g_settings.languageIndex == 0 ? 0 : 1; }

// The bound network library of the printer being served, or null when the
// slot is out of range.
const NetLibraryBinding* NetLibrary() {
  if (g_program.netSlot < 0 || g_program.netSlot >= kNetSlotCount) return nullptr;
  return &g_netLibraries[g_program.netSlot];
}

// The port name in the system code page, at most 255 bytes.
void PortNameAnsi(const PrinterConnection* connection, char* out, int size) {
  out[0] = '\0';
  WideCharToMultiByte(CP_ACP, 0, connection->portName, -1, out, size - 1, nullptr, nullptr);
  out[size - 1] = '\0';
}

bool IsProgressKind(uint16_t kind) { return kind == MODE_FWSEND || kind == MODE_FWSEND_LAST; }

// How long a cancelled request may take to end, as for the LPT status query.
constexpr DWORD kCancelLimitMs = 1000;

// One overlapped file request and its data, on the global heap: a request
// that does not end after its cancel keeps the block for good, so the system
// can never complete it into freed memory or into the caller's buffer.
struct FileRequest {
  OVERLAPPED overlapped;
  DWORD size;
  BYTE data[1];
};

FileRequest* NewFileRequest(DWORD size) {
  auto* request = static_cast<FileRequest*>(GlobalAlloc(GPTR, sizeof(FileRequest) + size));
  if (!request) return nullptr;
  request->size = size;
  request->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!request->overlapped.hEvent) {
    GlobalFree(request);
    return nullptr;
  }
  return request;
}

void FreeFileRequest(FileRequest* request) {
  if (!request) return;
  CloseHandle(request->overlapped.hEvent);
  GlobalFree(request);
}

// Cancels a pending request and waits a bounded time for it to end: a driver
// that never completes a cancelled request must not freeze the program.
// Returns the bytes it moved before it ended (0 when it did not end), copied
// to out when given (at most outSize); the request is freed, or kept for ever
// when it did not end.
DWORD CancelPending(HANDLE file, FileRequest* request, BYTE* out = nullptr, DWORD outSize = 0) {
  (g_portIoSeams.cancelIo ? g_portIoSeams.cancelIo : CancelIo)(file);
  if (WaitForSingleObject(request->overlapped.hEvent, kCancelLimitMs) != WAIT_OBJECT_0) {
    DebugLogF("CancelIo TimeOut %lu ms", static_cast<unsigned long>(kCancelLimitMs));
    return 0;
  }
  DWORD count = 0;
  if (!GetOverlappedResult(file, &request->overlapped, &count, FALSE)) {
    // A cancelled operation reports ERROR_OPERATION_ABORTED; the count of a
    // partial read is still valid.
    if (GetLastError() != ERROR_OPERATION_ABORTED) count = 0;
  }
  if (count > request->size) count = request->size;
  if (out) {
    if (count > outSize) count = outSize;
    std::memcpy(out, request->data, count);
  }
  FreeFileRequest(request);
  return count;
}

// Progress dialog writes; nothing happens when the dialog is not open.
struct Progress {
  bool active;
  uint32_t length;
  int32_t lastPercent = 0;
  int dots = kWaitLineDots + 1;
  wchar_t dotText[kWaitLineDots + 2] = {};

  HWND Dialog() const { return active ? g_program.progressDialog : nullptr; }

  void Begin() {
    HWND dlg = Dialog();
    if (!dlg) return;
    SetDlgItemTextW(dlg, kIdcProgressMessage, kSendingText[LanguageIndex()]);
    SendDlgItemMessageW(dlg, kIdcProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageW(dlg, kIdcProgressBar, PBM_SETPOS, 0, 0);
    HICON icon = LoadIconW(nullptr, IDI_EXCLAMATION);
    SendDlgItemMessageW(dlg, kIdcProgressIcon, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
    ShowBytes(0, 0);
  }

  void ShowBytes(uint32_t sent, int32_t percent) {
    HWND dlg = Dialog();
    if (!dlg) return;
    wchar_t text[96];
    _snwprintf(text, 96, L"%ld / %ld Byte\n%ld %%", static_cast<long>(sent), static_cast<long>(length),
               static_cast<long>(percent));
    text[95] = L'\0';
    SetDlgItemTextW(dlg, kIdcProgressBytes, text);
  }

  void AfterChunk(uint32_t sent) {
    if (!active) return;
    int32_t percent = length ? static_cast<int32_t>(static_cast<double>(sent) / length * 100.0) : 0;
    lastPercent = percent;
    HWND dlg = Dialog();
    if (!dlg) return;
    ShowBytes(sent, percent);
    SendDlgItemMessageW(dlg, kIdcProgressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  }

  void StartChunk() { dots = kWaitLineDots + 1; }

  // One more dot on the wait line; 1 to 21 dots, then it starts again.
  void WaitTick() {
    if (!active || lastPercent == 0) return;
    if (dots > kWaitLineDots) {
      dotText[0] = L'\0';
      dots = 0;
    }
    wcscat(dotText, L".");
    ++dots;
    HWND dlg = Dialog();
    if (!dlg) return;
    wchar_t text[128];
    _snwprintf(text, 128, kWaitLineFormat[LanguageIndex()], dotText);
    text[127] = L'\0';
    SetDlgItemTextW(dlg, kIdcProgressWaitLine, text);
  }

  void ClearWaitLine() {
    HWND dlg = Dialog();
    if (dlg) SetDlgItemTextW(dlg, kIdcProgressWaitLine, L"");
  }
};

// What the one-by-one exchange does around a chunk's library calls: the
// debug log, the progress line's waiting dots and the message pump.
struct ExchangeSteps {
  Progress& progress;
  uint32_t waitUnits;
  void Refused(const char* cause) { DebugLogF("PrinterSendData Err(%s)", cause); }
  void Waited() { progress.WaitTick(); }
  void Stalled(ULONGLONG intoChunkMs) {
    DebugLogF("PrinterSendData TimeOut(PRT_ERR_SEND(%lu ms into the chunk)", static_cast<unsigned long>(intoChunkMs));
  }
  void BetweenCalls() { PumpMessages(); }
  void OutOfTime(uint32_t sent, uint32_t left, ULONGLONG intoChunkMs) {
    DebugLogF("PrinterSendData Err(PRT_ERR_SEND(dwLoop >= %ld)", static_cast<long>(waitUnits));
    DebugLogF("PrinterSendData %lu of %lu bytes of the chunk in %lu ms", static_cast<unsigned long>(sent),
              static_cast<unsigned long>(sent + left), static_cast<unsigned long>(intoChunkMs));
  }
};

// One chunk through the network library (lan_chunk.h), with the grace a
// USB or LPT printer gets for it: waitUnits waits of one write slice.
bool SendChunkLan(const PrinterConnection* connection, const BYTE* position, uint32_t chunk, uint32_t waitUnits,
                  Progress& progress, uint32_t* sent) {
  const NetLibraryBinding* lib = NetLibrary();
  *sent = 0;
  if (!lib || !lib->WritePort) {
    WriteDebugLog("PrinterSendData Err(PRT_ERR_SEND(WritePort))");
    return false;
  }
  ExchangeSteps steps{progress, waitUnits};
  const ULONGLONG grace = static_cast<ULONGLONG>(waitUnits) * g_portIoSeams.writeSliceMs;
  return SendLanChunk(*lib, LqFromHandle(connection->handle), position, chunk, grace, g_portIoSeams.writeSliceMs,
                      steps, sent);
}

// One chunk as an overlapped file write. Returns true and the bytes written in
// *sent, or false after logging the cause; no write is left pending.
bool SendChunkFile(HANDLE file, const BYTE* position, uint32_t chunk, uint32_t waitUnits, Progress& progress,
                   uint32_t* sent) {
  *sent = 0;
  FileRequest* request = NewFileRequest(chunk);
  if (!request) {
    DebugLogF("PrinterSendData Err(PRT_ERR_SEND(CreateEvent %lu))", GetLastError());
    return false;
  }
  std::memcpy(request->data, position, chunk);
  OVERLAPPED& overlapped = request->overlapped;
  WriteDebugLog("PrinterSendData WriteFile");
  bool ok = false;
  bool pending = false;
  DWORD written = 0;
  if (WriteFile(file, request->data, chunk, &written, &overlapped)) {
    ok = written != 0 || chunk == 0;
    if (!ok) WriteDebugLog("PrinterSendData Err((WAIT_OBJECT_0)PRT_ERR_SEND)");
  } else {
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      WriteDebugLog("PrinterSendData Err(PRT_ERR_SEND(WriteFile(dwResult != ERROR_IO_PENDING)))");
      DebugLogF("WriteFile %lu", error);
    } else {
      uint32_t timeouts = 0;
      pending = true;
      for (;;) {
        DWORD rc = WaitPumping(overlapped.hEvent, g_portIoSeams.writeSliceMs);
        written = 0;
        BOOL done = GetOverlappedResult(file, &overlapped, &written, FALSE);
        if (rc == WAIT_OBJECT_0) {
          pending = false;
          progress.ClearWaitLine();
          if (!done || (chunk != 0 && written == 0)) {
            const DWORD resultError = done ? 0 : GetLastError();
            WriteDebugLog("PrinterSendData Err((WAIT_OBJECT_0)PRT_ERR_SEND)");
            DebugLogF("GetOverlappedResult %lu", resultError);
            break;
          }
          PumpMessages();
          DebugLogF("PrinterSendData Success(dwLoop = %ld)", static_cast<long>(timeouts));
          ok = true;
          break;
        }
        if (rc == WAIT_TIMEOUT) {
          // A part written so far only shows progress here: the count taken
          // at completion covers the whole chunk, so nothing is counted twice.
          ++timeouts;
          DebugLogF("PrinterSendData TimeOut(PRT_ERR_SEND(dwLoop = %ld)", static_cast<long>(timeouts));
          if (timeouts >= waitUnits) {
            DebugLogF("PrinterSendData Err(PRT_ERR_SEND(dwLoop >= %ld)", static_cast<long>(waitUnits));
            break;
          }
          progress.WaitTick();
          PumpMessages();
          continue;
        }
        WriteDebugLog("PrinterSendData Err(PRT_ERR_SEND(NOT WAIT_TIMEOUT))");
        break;
      }
    }
  }
  if (pending)
    CancelPending(file, request);
  else
    FreeFileRequest(request);
  if (ok) *sent = written > chunk ? chunk : written;
  return ok;
}

// Status byte of the parallel port. false when the wait for it failed or
// outlasted the limit. The query's record lives on the global heap: a query
// that does not end even after CancelIo keeps it, rather than have the
// system write into freed memory later.
bool QueryLptStatus(HANDLE file, BYTE* status) {
  struct Query {
    OVERLAPPED overlapped;
    BYTE status;
  };
  *status = 0;
  Query* query = static_cast<Query*>(GlobalAlloc(GPTR, sizeof(Query)));
  if (!query) return false;
  query->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!query->overlapped.hEvent) {
    GlobalFree(query);
    return false;
  }
  bool ok = true;
  bool release = true;
  DWORD returned = 0;
  if (!g_portIoSeams.deviceIoControl(file, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, &query->status, 1, &returned,
                                     &query->overlapped) &&
      GetLastError() == ERROR_IO_PENDING) {
    DWORD waited = 0;
    for (;;) {
      DWORD rc = WaitPumping(query->overlapped.hEvent, 1000);
      if (rc == WAIT_FAILED) {
        ok = false;
        break;
      }
      if (GetOverlappedResult(file, &query->overlapped, &returned, FALSE) || GetLastError() != ERROR_IO_INCOMPLETE) {
        break;
      }
      waited += 1000;
      if (waited >= g_portIoSeams.lptStatusLimitMs) {
        DebugLogF("PrinterCheck Err(DeviceIoControl TimeOut %lu ms)", static_cast<unsigned long>(waited));
        ok = false;
        break;
      }
    }
    if (!ok) {
      CancelIo(file);
      if (WaitForSingleObject(query->overlapped.hEvent, 1000) != WAIT_OBJECT_0) release = false;
    }
  }
  *status = ok ? query->status : 0;
  if (release) {
    CloseHandle(query->overlapped.hEvent);
    GlobalFree(query);
  }
  return ok;
}

int32_t CheckCom(HANDLE file) {
  for (int i = 0; i < kDsrChecks; ++i) {
    DWORD errors = 0;
    COMSTAT status = {};
    if (!g_portIoSeams.clearCommError(file, &errors, &status)) {
      const DWORD error = GetLastError();
      WriteDebugLog("PrinterCheck Err(DSR)");
      DebugLogF("ClearCommError %lu", error);
      return 0;
    }
    if (!status.fDsrHold) {
      WriteDebugLog("PrinterCheck Success");
      return 1;
    }
    TickWait(10);
  }
  WriteDebugLog("PrinterCheck Err(DSR)");
  return 0;
}

int32_t CheckLpt(HANDLE file) {
  BYTE status = 0;
  if (!QueryLptStatus(file, &status)) return 0;
  if (status & (PARALLEL_OFF_LINE | PARALLEL_POWER_OFF)) {
    WriteDebugLog("PrinterCheck DeviceIoControl Err(PARALLEL_POWER_OFF | PARALLEL_OFF_LINE)");
    return 0;
  }
  WriteDebugLog("PrinterCheck Success");
  return 1;
}

void LogReceived(const BYTE* buffer, uint32_t length) {
  if (g_settings.logEnabled != 1) return;
  WriteDebugLog("PrinterReceiveData Success");
  char* text = static_cast<char*>(GlobalAlloc(GPTR, kHexDumpTextBytes));
  if (!text) return;
  FormatHexDump(buffer, length, text, kHexDumpTextBytes);
  WriteDebugLog(text);
  GlobalFree(text);
}

}  // namespace

HANDLE PortOpen(const PrinterConnection* connection) {
  char name[256];
  PortNameAnsi(connection, name, sizeof(name));
  LogEnter("PortOpen");
  DebugLogF("Port = %s", name);

  HANDLE handle = INVALID_HANDLE_VALUE;
  if (connection->portKind == PORT_LAN) {
    const NetLibraryBinding* lib = NetLibrary();
    for (int attempt = 0; attempt < kLanOpenAttempts && handle == INVALID_HANDLE_VALUE; ++attempt) {
      if (lib && lib->OpenPort && lib->SetUseICMP) {
        LqHandle lq = lib->OpenPort(name);
        if (lq != -1) {
          if (lib->SetUseICMP(1) != 0) {
            handle = HandleFromLq(lq);
            WriteDebugLog("PortOpen Success");
            break;
          }
          WriteDebugLog("PortOpen Err(INVALID_HANDLE_VALUE)");
          // The library owns a record per open port: give it back.
          if (lib->ClosePort) lib->ClosePort(lq);
        }
      }
      TickWait(3);
    }
  } else {
    const wchar_t* path = connection->portKind == PORT_COM ? connection->comPath : connection->portName;
    handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) DebugLogF("PortOpen CreateFile %lu", GetLastError());
  }

  if (handle == INVALID_HANDLE_VALUE) {
    WriteDebugLog("PortOpen Err(INVALID_HANDLE_VALUE)");
    LogLeave("PortOpen");
    return INVALID_HANDLE_VALUE;
  }
  if (connection->portKind != PORT_LAN) WriteDebugLog("PortOpen Success");

  if (g_settings.portKind == PORT_COM && connection->portKind != PORT_LAN) {
    g_savedComState = {};
    g_savedComState.DCBlength = sizeof(DCB);
    auto getState = g_portIoSeams.getCommState ? g_portIoSeams.getCommState : GetCommState;
    g_savedComValid = getState(handle, &g_savedComState) != FALSE;
    // Without our speed, format and flow control the printer would take the
    // firmware as garbage: a port whose settings cannot be read or set does
    // not open.
    bool settled = g_savedComValid;
    if (!g_savedComValid) {
      DebugLogF("PortOpen Err(GetCommState %lu)", GetLastError());
    } else {
      DCB working = g_savedComState;
      working.BaudRate = CBR_115200;
      working.ByteSize = 8;
      working.Parity = NOPARITY;
      working.StopBits = ONESTOPBIT;
      working.fParity = FALSE;
      if (g_settings.writingMethod == 0 || g_settings.comFlowControl == 0) {
        working.fOutxDsrFlow = TRUE;
        working.fOutX = FALSE;
      } else {
        working.fOutxDsrFlow = FALSE;
        working.fOutX = TRUE;
      }
      if (!ApplyComState(handle, &working)) {
        DebugLogF("PortOpen Err(SetCommState %lu)", GetLastError());
        settled = false;
        // Whatever part of the settings took is undone.
        ApplyComState(handle, &g_savedComState);
        g_savedComValid = false;
      } else {
        TickWait(100);
      }
    }
    if (!settled) {
      CloseHandle(handle);
      WriteDebugLog("PortOpen Err(INVALID_HANDLE_VALUE)");
      LogLeave("PortOpen");
      return INVALID_HANDLE_VALUE;
    }
  }
  LogLeave("PortOpen");
  return handle;
}

int32_t PortClose(HANDLE handle) {
  DebugLogF("PortClose Start");
  WriteDebugLog(kLogEnter);
  int32_t result = 0;
  if (g_settings.portKind == PORT_LAN) {
    const NetLibraryBinding* lib = NetLibrary();
    // The library releases the handle whatever the call returns. A failed
    // close means the printer dropped the connection: a block sent on it
    // may not have arrived whole.
    if (!lib || !lib->ClosePort || lib->ClosePort(LqFromHandle(handle)) != 1) {
      WriteDebugLog("PortClose Err(PRT_ERR_SEND(ClosePort))");
      result = PRT_ERR_SEND;
      TickWait(300);
    }
  } else {
    if (g_settings.portKind == PORT_COM && g_savedComValid) {
      ApplyComState(handle, &g_savedComState);
      g_savedComValid = false;
    }
    if (CloseHandle(handle)) {
      WriteDebugLog("PortClose Success");
    } else {
      const DWORD error = GetLastError();
      WriteDebugLog("PortClose Err(CloseHandle)");
      DebugLogF("CloseHandle %lu", error);
    }
    // A device handle is given a moment before the next open of the same
    // port; a LAN connection is ended by the close itself, and the next
    // exchange opens a connection of its own.
    TickWait(100);
  }
  LogLeave("PortClose");
  return result;
}

int32_t PrinterCheck(const PrinterConnection* connection) {
  LogEnter("PrinterCheck");
  int32_t ready = 0;
  switch (connection->portKind) {
    case PORT_COM:
      ready = CheckCom(connection->handle);
      break;
    case PORT_LPT:
      ready = CheckLpt(connection->handle);
      break;
    case PORT_USB:
    case PORT_LAN:
      WriteDebugLog("PrinterCheck Success");
      ready = 1;
      break;
    default:
      WriteDebugLog("PrinterCheck Err(portKind)");
      break;
  }
  LogLeave("PrinterCheck");
  return ready;
}

uint32_t g_sentBytes = 0;

int32_t PrinterSendData(uint16_t kind, const PrinterConnection* connection, const BYTE* data, uint32_t length) {
  LogEnter("PrinterSendData");
  g_sentBytes = 0;
  Progress progress{IsProgressKind(kind), length};
  progress.Begin();
  if (progress.active) PumpMessages();

  uint32_t waitUnits = length / kBytesPerWaitUnit;
  if (waitUnits < kMinWriteWaitUnits) waitUnits = kMinWriteWaitUnits;
  int32_t selected = g_settings.portKind;
  uint32_t chunkSize = (selected == PORT_USB || selected == PORT_LPT || selected == PORT_LAN) ? kChunkBytesFile
                                                                                            : kChunkBytesCom;

  int32_t result = 0;
  if (data == nullptr && length != 0) {
    WriteDebugLog("PrinterSendData Err(PRT_ERR_SEND(no data))");
    result = PRT_ERR_SEND;
  } else if (PrinterCheck(connection) != 1) {
    WriteDebugLog("PrinterSendData Err(PRT_ERR_SEND)");
    result = PRT_ERR_SEND;
  } else {
    uint32_t position = 0;
    while (position < length) {
      uint32_t chunk = length - position < chunkSize ? length - position : chunkSize;
      uint32_t sent = 0;
      progress.StartChunk();
      bool ok = connection->portKind == PORT_LAN
                    ? SendChunkLan(connection, data + position, chunk, waitUnits, progress, &sent)
                    : SendChunkFile(connection->handle, data + position, chunk, waitUnits, progress, &sent);
      if (!ok) {
        result = PRT_ERR_SEND;
        break;
      }
      position += sent;
      g_sentBytes = position;
      progress.AfterChunk(position);
      WriteDebugLog("PrinterSendData WriteFile Success");
      PumpMessages();
    }
  }
  LogLeave("PrinterSendData");
  return result;
}

int32_t PrinterReceiveData(uint16_t kind, const PrinterConnection* connection, BYTE* buffer, uint32_t* inOutLength) {
  const uint32_t capacity = *inOutLength;
  int32_t result = PRT_ERR_NOREPLY;
  LogEnter("PrinterReceiveData");
  int passes = 4;
  uint32_t received = 0;
  bool done = false;
  const ULONGLONG drainStart = GetTickCount64();
  uint32_t drained = 0;

  while (!done) {
    TickWait(200);
    --passes;
    uint32_t toRead = 0;
    if (connection->portKind == PORT_LAN) {
      TickWait(100);
      const NetLibraryBinding* lib = NetLibrary();
      int tries = kind == MODE_BFCLEAR ? 1 : kLanRecvTries;
      for (int t = 0; t < tries; ++t) {
        TickWait(30);
        // A reply may come in several pieces: each is added after the last,
        // never over it. What the drain reads is thrown away.
        if (kind == MODE_BFCLEAR) received = 0;
        const uint32_t space = capacity - received;
        if (space == 0) {
          // Full without its end: more reading cannot make it whole.
          WriteDebugLog("PrinterReceiveData Err(PRT_ERR_NOREPLY(buffer full))");
          passes = 0;
          break;
        }
        std::memset(buffer + received, 0, space);
        WriteDebugLog("PrinterReceiveData lpfnSxRecvPort");
        int32_t count = 0;
        int ok = (lib && lib->RecvPort)
                     ? lib->RecvPort(LqFromHandle(connection->handle), reinterpret_cast<char*>(buffer + received),
                                     static_cast<int32_t>(space), &count)
                     : 0;
        if (count < 0) count = 0;
        if (static_cast<uint32_t>(count) > space) count = static_cast<int32_t>(space);
        if (ok != 1 || count == 0) continue;
        received += static_cast<uint32_t>(count);
        if (kind == MODE_BFCLEAR) {
          passes = 3;
          drained += static_cast<uint32_t>(count);
        }
        if (buffer[received - 1] == 0) {
          result = 0;
          LogReceived(buffer, received);
          passes = 0;
          break;
        }
        if (kind == MODE_RESET3) {
          // A reset reply ends the receive on any data.
          result = 0;
          passes = 0;
          break;
        }
      }
      // A device that keeps talking must not hold the drain for ever.
      if (kind == MODE_BFCLEAR && passes > 0 &&
          (drained >= kDrainLimitBytes || GetTickCount64() - drainStart >= kDrainLimitMs)) {
        DebugLogF("PrinterReceiveData Drain End(%lu bytes in %lu ms)", static_cast<unsigned long>(drained),
                  static_cast<unsigned long>(GetTickCount64() - drainStart));
        passes = 0;
      }
      if (passes <= 0) done = true;
      continue;
    }

    if (connection->portKind == PORT_COM) {
      TickWait(100);
      DWORD errors = 0;
      COMSTAT status = {};
      if (!g_portIoSeams.clearCommError(connection->handle, &errors, &status)) {
        result = PRT_ERR_RECEIVE;
        const DWORD error = GetLastError();
        WriteDebugLog("PrinterReceiveData Err(PRT_ERR_RECEIVE)");
        DebugLogF("ClearCommError %lu", error);
        passes = 0;
      } else {
        toRead = status.cbInQue;
      }
    } else if (connection->portKind == PORT_USB || connection->portKind == PORT_LPT) {
      toRead = capacity - received;
    } else {
      received = 0;
      break;
    }
    if (toRead > capacity - received) toRead = capacity - received;

    DWORD lastCounted = 0;
    if (toRead != 0) {
      std::memset(buffer + received, 0, capacity - received);
      // The read goes into the request's own block and is copied out once it
      // ended, so a read that outlives its cancel never writes the caller's
      // buffer.
      FileRequest* request = NewFileRequest(toRead);
      WriteDebugLog("PrinterReceiveData ReadFile");
      DWORD count = 0;
      auto take = [&](DWORD moved) {
        if (moved > toRead) moved = toRead;
        std::memcpy(buffer + received, request->data, moved);
        received += moved;
        lastCounted = moved;
      };
      if (!request) {
        result = PRT_ERR_RECEIVE;
        const DWORD error = GetLastError();
        WriteDebugLog("PrinterReceiveData Err(PRT_ERR_RECEIVE)");
        DebugLogF("CreateEvent %lu", error);
        passes = 0;
      } else if (ReadFile(connection->handle, request->data, toRead, &count, &request->overlapped)) {
        take(count);
      } else if (DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
        result = PRT_ERR_RECEIVE;
        WriteDebugLog("PrinterReceiveData Err(PRT_ERR_RECEIVE)");
        DebugLogF("ReadFile %lu", error);
      } else {
        DWORD rc = WaitPumping(request->overlapped.hEvent, kReadSliceMs);
        count = 0;
        BOOL got = GetOverlappedResult(connection->handle, &request->overlapped, &count, FALSE);
        if (rc == WAIT_OBJECT_0) {
          // The request has ended: its block holds what a direct read would
          // have left in the caller's buffer, including a reset reply that a
          // driver delivers with a count of 0.
          std::memcpy(buffer + received, request->data, toRead);
          if (got && count != 0) {
            take(count);
            passes = 3;
          } else if (kind == MODE_RESET3 && connection->portKind == PORT_USB && received < 3 && capacity >= 3 &&
                     buffer[0] == 0x3B && buffer[1] == 0x33 && buffer[2] == 0x00) {
            received = 3;
            passes = 3;
          }
        } else if (rc == WAIT_TIMEOUT) {
          PumpMessages();
          count = CancelPending(connection->handle, request, buffer + received, toRead);
          request = nullptr;
          received += count;
          lastCounted = count;
          passes = 0;
        } else {
          result = PRT_ERR_RECEIVE;
          WriteDebugLog("PrinterReceiveData Err(PRT_ERR_RECEIVE)");
          CancelPending(connection->handle, request);
          request = nullptr;
          passes = 0;
        }
      }
      FreeFileRequest(request);
    }

    if (received != 0) {
      switch (kind) {
        case MODE_BFCLEAR:
          if (lastCounted != 0) passes = 3;
          break;
        case MODE_RESET3:
          if (buffer[capacity - 1] == 0) {
            result = 0;
            passes = 0;
          }
          break;
        case MODE_READFIX:
        case MODE_READVARI:
          if (buffer[received - 1] == 0) {
            result = 0;
            passes = 0;
          }
          break;
        default:
          break;
      }
    }
    if (result == 0) LogReceived(buffer, received);
    if (passes <= 0) done = true;
  }

  *inOutLength = received;
  if (received == 0) WriteDebugLog("PrinterReceiveData NoData");
  LogLeave("PrinterReceiveData");
  return result;
}
