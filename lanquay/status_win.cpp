// The status channel: one device-ID request per exchange on the printer's
// command port 9200, run as a hidden-window exchange so that the reply
// arrives as a window message and a timer bounds the wait.
#include <cstdio>
#include <cstring>

#include "lq_context.h"

namespace {

constexpr u_short kCommandPort = 9200;
constexpr UINT WM_STATUS_SOCKET = WM_USER + 101;
constexpr UINT_PTR kReplyTimer = 1;
constexpr int kReadBufferSize = 256;
constexpr char kStatusClassWord[] = "QuayStatusClass";
constexpr char kDeviceIdRequest[] = "GET_DEVICE_ID  \n";
static_assert(sizeof(kDeviceIdRequest) - 1 == 16, "the request line is 16 bytes");

LqContext* RecordOf(HWND window) { return reinterpret_cast<LqContext*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

/// Milliseconds of the reply wait, kept within what SetTimer accepts.
UINT ReplyWaitMs(const LqContext* record) {
  int64_t ms = static_cast<int64_t>(record->timeStep) * 1000;
  if (ms < 1) return 1;
  if (ms > 0x7FFFFFFF) return 0x7FFFFFFF;
  return static_cast<UINT>(ms);
}

/// Connects, asks for the device ID and starts the reply timer. Any failure
/// ends the exchange with error value 0 and gives false.
bool OnCreate(HWND window, const CREATESTRUCTA* create) {
  LqContext* record = static_cast<LqContext*>(create->lpCreateParams);
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
  record->socket = socket(AF_INET, SOCK_STREAM, 0);
  if (record->socket == INVALID_SOCKET) {
    record->errorValue = 0;
    DestroyWindow(window);
    return false;
  }
  sockaddr_in destination;
  memset(&destination, 0, sizeof(destination));
  destination.sin_family = AF_INET;
  destination.sin_port = htons(kCommandPort);
  destination.sin_addr.s_addr = inet_addr(record->host);
  // Still a blocking socket: the platform's own connect time-out applies.
  if (connect(record->socket, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination)) == SOCKET_ERROR &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    record->errorValue = 0;
    DestroyWindow(window);
    return false;
  }
  // FD_CLOSE as well: a printer that closes without a reply raises no FD_READ
  // on every socket layer, and its end must finish the exchange (length 0)
  // rather than wait for the timer.
  if (WSAAsyncSelect(record->socket, window, WM_STATUS_SOCKET, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
    record->errorValue = 0;
    DestroyWindow(window);
    return false;
  }
  send(record->socket, kDeviceIdRequest, static_cast<int>(sizeof(kDeviceIdRequest) - 1), 0);
  SetTimer(window, kReplyTimer, ReplyWaitMs(record), nullptr);
  return true;
}

/// Stores the first piece of the reply, at most the caller's capacity.
void OnSocket(HWND window) {
  LqContext* record = RecordOf(window);
  if (!record) return;
  char reply[kReadBufferSize];
  int received = recv(record->socket, reply, sizeof(reply), 0);
  uint32_t stored = 0;
  if (received > 0) {
    stored = static_cast<uint32_t>(received);
    if (static_cast<int64_t>(stored) > record->replyCapacity) stored = static_cast<uint32_t>(record->replyCapacity);
    memcpy(record->replyBuffer, reply, stored);
  }
  record->replyLength = stored;
  KillTimer(window, kReplyTimer);
  record->errorValue = 1;
  DestroyWindow(window);
}

void OnTimer(HWND window) {
  LqContext* record = RecordOf(window);
  if (!record) return;
  KillTimer(window, kReplyTimer);
  record->errorValue = 0;
  DestroyWindow(window);
}

void OnDestroy(HWND window) {
  LqContext* record = RecordOf(window);
  if (record && record->socket != INVALID_SOCKET) {
    closesocket(record->socket);
    record->socket = INVALID_SOCKET;
  }
  // A late notification must not find the record any more.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  PostQuitMessage(0);
}

LRESULT CALLBACK StatusWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // -1 after a failure: CreateWindowEx then reports no window on every
      // platform, whatever it makes of a window destroyed in its creation.
      return OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam)) ? 0 : -1;
    case WM_STATUS_SOCKET:
      OnSocket(window);
      return 0;
    case WM_TIMER:
      if (wParam == kReplyTimer) OnTimer(window);
      return 0;
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

/// Opens a status handle for a printer's dotted IPv4 address: registers the
/// handle's own window class; no connection yet.
extern "C" LqHandle WINAPI LqOpenStatus(const char* host) {
  if (!host) return -1;
  LqContext* record = nullptr;
  LqHandle handle = LqAllocContext(&record);
  if (handle == -1) return -1;
  record->errorValue = 0;
  LqReadSettings(record, false);
  record->socket = INVALID_SOCKET;
  if (!LqSetHost(record, host)) {
    LqFreeContext(handle);
    return -1;
  }
  // Tick count and record address make the name unique in the process, so
  // several handles, even for one printer, can be open at once.
  snprintf(record->className, sizeof(record->className), "%s %d %s %llx", kStatusClassWord,
           static_cast<int>(GetTickCount()), record->host,
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(record)));
  record->instance = g_lq.instance;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = StatusWindowProc;
  windowClass.hInstance = record->instance;
  windowClass.lpszClassName = record->className;
  if (!RegisterClassA(&windowClass)) {
    LqFreeContext(handle);
    return -1;
  }
  return handle;
}

/// Runs one device-ID exchange. 1 when the reply (or the end of the
/// connection) came within the reply wait; buffer and length then hold it.
extern "C" int WINAPI LqGetStatus(LqHandle handle, char* buffer, int32_t capacity, uint32_t* length) {
  LqContext* record = LqLookup(handle);
  if (!record) return 0;
  // Without somewhere to put the reply there is nothing to ask for.
  if (!buffer || !length) return 0;
  // A negative capacity stores nothing rather than counting as a huge one.
  record->replyCapacity = capacity < 0 ? 0 : capacity;
  record->replyBuffer = buffer;
  record->replyLength = 0;
  // The outcome of an earlier exchange must not stand for this one.
  record->errorValue = 0;
  LqRunHiddenWindow(record->className, WS_CLIPCHILDREN, record);
  *length = record->replyLength;
  return record->errorValue != 0 ? 1 : 0;
}

/// Unregisters the handle's window class and frees the handle; the result is
/// the unregister result.
extern "C" int WINAPI LqCloseStatus(LqHandle handle) {
  LqContext* record = LqLookup(handle);
  if (!record) return 0;
  int result = UnregisterClassA(record->className, record->instance) ? 1 : 0;
  LqFreeContext(handle);
  return result;
}
