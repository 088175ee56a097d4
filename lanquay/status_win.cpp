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

// One exchange, alive for one LqGetStatus call. The window reaches only
// this, never the handle's record: the caller's windows run during the wait
// and may close the handle, which frees the record.
struct StatusCall {
  char host[sizeof(LqContext::host)];
  UINT waitMs;
  SOCKET socket;
  char* buffer;      // the caller's buffer
  int64_t capacity;  // its size, never negative
  uint32_t length;   // bytes stored
  bool answered;     // a reply or the printer's close came in time
};

StatusCall* CallOf(HWND window) { return reinterpret_cast<StatusCall*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

/// Connects, asks for the device ID and starts the reply timer. Any failure
/// ends the exchange unanswered and gives false.
bool OnCreate(HWND window, const CREATESTRUCTA* create) {
  StatusCall* call = static_cast<StatusCall*>(create->lpCreateParams);
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(call));
  call->socket = socket(AF_INET, SOCK_STREAM, 0);
  if (call->socket == INVALID_SOCKET) {
    DestroyWindow(window);
    return false;
  }
  sockaddr_in destination;
  memset(&destination, 0, sizeof(destination));
  destination.sin_family = AF_INET;
  destination.sin_port = htons(kCommandPort);
  destination.sin_addr.s_addr = inet_addr(call->host);
  // Still a blocking socket: the platform's own connect time-out applies.
  if (connect(call->socket, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination)) == SOCKET_ERROR &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    DestroyWindow(window);
    return false;
  }
  // FD_CLOSE as well: a printer that closes without a reply raises no FD_READ
  // on every socket layer, and its end must finish the exchange (length 0)
  // rather than wait for the timer.
  if (WSAAsyncSelect(call->socket, window, WM_STATUS_SOCKET, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
    DestroyWindow(window);
    return false;
  }
  send(call->socket, kDeviceIdRequest, static_cast<int>(sizeof(kDeviceIdRequest) - 1), 0);
  // Without its timer a silent printer would hold the exchange for ever.
  if (!g_lqSeams.setTimer(window, kReplyTimer, call->waitMs, nullptr)) {
    DestroyWindow(window);
    return false;
  }
  return true;
}

/// Stores the first piece of the reply, at most the caller's capacity.
void OnSocket(HWND window) {
  StatusCall* call = CallOf(window);
  if (!call) return;
  char reply[kReadBufferSize];
  int received = recv(call->socket, reply, sizeof(reply), 0);
  uint32_t stored = 0;
  if (received > 0) {
    stored = static_cast<uint32_t>(received);
    if (static_cast<int64_t>(stored) > call->capacity) stored = static_cast<uint32_t>(call->capacity);
    memcpy(call->buffer, reply, stored);
  }
  call->length = stored;
  call->answered = true;
  KillTimer(window, kReplyTimer);
  DestroyWindow(window);
}

void OnTimer(HWND window) {
  if (!CallOf(window)) return;
  KillTimer(window, kReplyTimer);
  DestroyWindow(window);
}

void OnDestroy(HWND window) {
  StatusCall* call = CallOf(window);
  if (call && call->socket != INVALID_SOCKET) {
    closesocket(call->socket);
    call->socket = INVALID_SOCKET;
  }
  // A late notification must not find the call any more.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
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
/// A handle closed by the caller's own window during the wait gives 0.
extern "C" int WINAPI LqGetStatus(LqHandle handle, char* buffer, int32_t capacity, uint32_t* length) {
  LqContext* record = LqLookup(handle);
  if (!record) return 0;
  // Without somewhere to put the reply there is nothing to ask for.
  if (!buffer || !length) return 0;
  StatusCall call = {};
  memcpy(call.host, record->host, sizeof(call.host));
  const uint32_t waitMs = LqLimitMs(record->timeStep, 1);
  call.waitMs = waitMs == 0 ? 1 : waitMs;
  call.socket = INVALID_SOCKET;
  call.buffer = buffer;
  // A negative capacity stores nothing rather than counting as a huge one.
  call.capacity = capacity < 0 ? 0 : capacity;
  // The outcome of an earlier exchange must not stand for this one.
  record->errorValue = 0;
  char className[sizeof(record->className)];
  memcpy(className, record->className, sizeof(className));
  const HINSTANCE instance = record->instance;

  LqRunHiddenWindow(className, WS_CLIPCHILDREN, &call);

  // The record may have been freed during the wait: look the handle up again.
  record = LqLookup(handle);
  if (!record) {
    // Its close could not unregister the class while the window existed.
    UnregisterClassA(className, instance);
    *length = 0;
    return 0;
  }
  record->errorValue = call.answered ? 1 : 0;
  *length = call.length;
  return call.answered ? 1 : 0;
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
