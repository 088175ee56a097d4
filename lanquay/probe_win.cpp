// Reachability probes (an ICMP echo through the platform's ICMP library and a
// TCP connect to port 80) and the job cancel on the printer's command port.
#include <winsock.h>
#include <windows.h>
#include <ipexport.h>

#include <cstdio>
#include <cstring>

#include "lq_context.h"
#include "search_packets.h"
#include "system_library_win.h"

namespace {

constexpr int kEchoDataSize = 32;
constexpr BYTE kEchoDataByte = 0xA5;
constexpr DWORD kEchoTimeoutMs = 1000;
// The platform's reply buffer must hold its reply record, the echoed data
// and room for an ICMP error; a bare 60 bytes is refused before anything is
// sent, so every echo would look unanswered.
constexpr DWORD kEchoReplySize = sizeof(ICMP_ECHO_REPLY) + kEchoDataSize + 8 + 28;

constexpr UINT WM_PROBE_SOCKET = WM_USER + 105;
constexpr UINT_PTR kProbeTimer = 1;
constexpr UINT kProbeWaitMs = 1000;
constexpr u_short kProbePort = 80;
constexpr int32_t kProbeAnswered = 0;
constexpr int32_t kProbeNoSocket = 16;
constexpr int32_t kProbeNotResolved = 17;
constexpr int32_t kProbeRefused = 18;
constexpr int32_t kProbeNoAnswer = 19;

constexpr u_short kCommandPort = 9200;
constexpr int kCancelReplySize = 256;
constexpr DWORD kCancelSettleMs = 200;

typedef HANDLE(WINAPI* IcmpCreateFileFn)(void);
typedef BOOL(WINAPI* IcmpCloseHandleFn)(HANDLE);
typedef DWORD(WINAPI* IcmpSendEchoFn)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);

// A record for one call: host text and instance copied in, error value 0.
// Returns 0 (and no record) for a null or too long host or without memory.
LqHandle OpenOneShot(const char* host, LqContext** record) {
  *record = nullptr;
  if (!host) return 0;
  LqHandle handle = LqAllocContext(record);
  if (handle == -1) return 0;
  if (!LqSetHost(*record, host)) {
    LqFreeContext(handle);
    *record = nullptr;
    return 0;
  }
  (*record)->instance = g_lq.instance;
  (*record)->errorValue = 0;
  return handle;
}

void ShutdownAndClose(LqContext* record) {
  if (record->socket == INVALID_SOCKET) return;
  shutdown(record->socket, 2 /* SD_BOTH */);
  closesocket(record->socket);
  record->socket = INVALID_SOCKET;
}

bool ResolveHost(const char* host, in_addr* address) {
  address->s_addr = inet_addr(host);
  if (address->s_addr != INADDR_NONE) return true;
  const hostent* entry = gethostbyname(host);
  if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
  std::memcpy(address, entry->h_addr_list[0], sizeof *address);
  return true;
}

void EndProbe(HWND window, LqContext* record, int32_t outcome) {
  record->errorValue = outcome;
  ShutdownAndClose(record);
  DestroyWindow(window);
}

LRESULT OnProbeCreate(HWND window, const CREATESTRUCTA* create) {
  auto* record = static_cast<LqContext*>(create->lpCreateParams);
  record->socket = socket(AF_INET, SOCK_STREAM, 0);
  if (record->socket == INVALID_SOCKET) {
    record->errorValue = kProbeNoSocket;
    DestroyWindow(window);
    return 0;
  }
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(kProbePort);
  if (!ResolveHost(record->host, &to.sin_addr)) {
    EndProbe(window, record, kProbeNotResolved);
    return 0;
  }
  WSAAsyncSelect(record->socket, window, WM_PROBE_SOCKET, FD_CONNECT);
  BOOL reuse = TRUE;
  setsockopt(record->socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  if (connect(record->socket, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ||
      WSAGetLastError() == WSAEWOULDBLOCK) {
    // Unanswered and untimed, the probe would wait for ever.
    if (!g_lqSeams.setTimer(window, kProbeTimer, kProbeWaitMs, nullptr)) EndProbe(window, record, kProbeNoAnswer);
  } else {
    EndProbe(window, record, kProbeRefused);
  }
  return 0;
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* record = reinterpret_cast<LqContext*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      return OnProbeCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
    case WM_PROBE_SOCKET:
      // A refused connection is an answer too: the host is there.
      if (record && WSAGETSELECTEVENT(lParam) == FD_CONNECT) EndProbe(window, record, kProbeAnswered);
      return 0;
    case WM_TIMER:
      if (record) EndProbe(window, record, kProbeNoAnswer);
      return 0;
    case WM_DESTROY:
      if (record) ShutdownAndClose(record);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// Connects with a bounded wait; the socket stays blocking afterwards.
bool ConnectWithin(SOCKET s, const sockaddr_in& to, DWORD limitMs) {
  u_long mode = 1;
  ioctlsocket(s, FIONBIO, &mode);
  bool connected = connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval wait = {static_cast<long>(limitMs / 1000), static_cast<long>((limitMs % 1000) * 1000)};
    connected = select(0, nullptr, &writable, &failed, &wait) > 0 && FD_ISSET(s, &writable) && !FD_ISSET(s, &failed);
  }
  mode = 0;
  ioctlsocket(s, FIONBIO, &mode);
  return connected;
}

}  // namespace

/// One ICMP echo through "ICMP.DLL" of the system folder: 1 when answered
/// within one second.
extern "C" int WINAPI LqSendICMP(const char* host) {
  LqContext* record = nullptr;
  const LqHandle handle = OpenOneShot(host, &record);
  if (!handle) return 0;
  int result = 0;
  HMODULE icmp = LoadSystemLibrary(L"ICMP.DLL");
  if (icmp) {
    const hostent* entry = gethostbyname(record->host);
    auto create = reinterpret_cast<IcmpCreateFileFn>(reinterpret_cast<void*>(GetProcAddress(icmp, "IcmpCreateFile")));
    auto close = reinterpret_cast<IcmpCloseHandleFn>(reinterpret_cast<void*>(GetProcAddress(icmp, "IcmpCloseHandle")));
    auto send = reinterpret_cast<IcmpSendEchoFn>(reinterpret_cast<void*>(GetProcAddress(icmp, "IcmpSendEcho")));
    if (entry && entry->h_addr_list && entry->h_addr_list[0] && create && close && send) {
      IPAddr address;
      std::memcpy(&address, entry->h_addr_list[0], sizeof address);
      HANDLE echo = create();
      if (echo != INVALID_HANDLE_VALUE) {
        BYTE data[kEchoDataSize];
        std::memset(data, kEchoDataByte, sizeof data);
        void* reply = GlobalAlloc(GPTR, kEchoReplySize);
        if (reply) {
          result = send(echo, address, data, sizeof data, nullptr, reply, kEchoReplySize, kEchoTimeoutMs) != 0 ? 1 : 0;
          GlobalFree(reply);
        }
        close(echo);
      }
    }
    FreeLibrary(icmp);
  }
  LqFreeContext(handle);
  return result;
}

/// TCP connect to port 80: 1 when the host accepted or refused within one
/// second, 0 when nothing answered or the probe could not run.
extern "C" int WINAPI LqSendICMP_Async(const char* host) {
  LqContext* record = nullptr;
  const LqHandle handle = OpenOneShot(host, &record);
  if (!handle) return 0;
  // The block's address makes the class name unique among probes that run
  // at the same time (a caller's window may start one during another's wait).
  void* marker = LocalAlloc(LPTR, 1);
  if (!marker) {
    LqFreeContext(handle);
    return 0;
  }
  std::snprintf(record->className, sizeof record->className, "HTTPCONNECT %d %s %llx",
                static_cast<int>(GetTickCount()), record->host,
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(marker)));
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ProbeWindowProc;
  windowClass.hInstance = record->instance;
  windowClass.lpszClassName = record->className;
  int result = 0;
  if (RegisterClassExA(&windowClass)) {
    if (LqRunHiddenWindow(record->className, WS_CLIPCHILDREN, record)) result = record->errorValue == 0 ? 1 : 0;
    UnregisterClassA(record->className, record->instance);
  }
  ShutdownAndClose(record);
  LocalFree(marker);
  LqFreeContext(handle);
  return result;
}

/// Sends "SOFT_RESET" and, after the printer's answer, "QUIT" on the command
/// port. Every wait is bounded by the data port's limit (TIME x RETRY
/// seconds), so a printer that accepts and never answers cannot hold the
/// caller for good.
extern "C" int WINAPI LqSendCancel(const char* host) {
  LqContext* record = nullptr;
  const LqHandle handle = OpenOneShot(host, &record);
  if (!handle) return 0;
  LqReadSettings(record, false);
  const DWORD limitMs = LqLimitMs(record->timeStep, record->rounds);

  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(kCommandPort);
  to.sin_addr.s_addr = inet_addr(record->host);
  // Not a dotted address: inet_addr's failure value is the broadcast address,
  // which must never be dialled.
  if (to.sin_addr.s_addr == INADDR_NONE) {
    LqFreeContext(handle);
    return 0;
  }
  record->socket = socket(AF_INET, SOCK_STREAM, 0);
  if (record->socket == INVALID_SOCKET || !ConnectWithin(record->socket, to, limitMs)) {
    record->errorValue = 0;
    ShutdownAndClose(record);
    LqFreeContext(handle);
    return 0;
  }
  // 0 would mean no limit to the socket layer.
  DWORD timeout = limitMs == 0 ? 1 : limitMs;
  setsockopt(record->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(record->socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  send(record->socket, lq::kCancelResetLine, lq::kCancelLineSize, 0);
  char reply[kCancelReplySize];
  recv(record->socket, reply, sizeof reply, 0);
  send(record->socket, lq::kCancelQuitLine, lq::kCancelLineSize, 0);
  record->errorValue = 1;
  closesocket(record->socket);
  record->socket = INVALID_SOCKET;
  Sleep(kCancelSettleMs);
  LqFreeContext(handle);
  return 1;
}

/// Records the flag; no operation of the library reads it.
extern "C" int WINAPI LqSetUseICMP(int32_t flag) {
  g_lq.useIcmp = flag;
  return 1;
}
