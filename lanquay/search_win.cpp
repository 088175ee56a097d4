// Printer search: a broadcast echo to every local network fills the ARP
// table, the ARP rows with the maker's prefixes are confirmed by a unicast
// echo; the DHCP listen lists printers that have no address yet.
#include <winsock.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstring>

#include "lq_context.h"
#include "search_packets.h"
#include "system_library_win.h"

namespace {

constexpr char kSearchClassWord[] = "QuaySearchClass";
constexpr UINT_PTR kSearchTimer = 1;
constexpr DWORD kConfirmTimeoutMs = 1000;
constexpr int kConfirmAttempts = 3;
constexpr int kPacketBufferSize = 1024;
constexpr int kDhcpBufferSize = 2048;
constexpr u_short kDhcpServerPort = 67;
constexpr DWORD kDhcpPollMs = 100;

// The parameters of one LqSendSearch call, alive for the call. The handle is
// kept rather than the record alone: the caller's windows run during the
// wait and may close the handle, and a closed handle must not be touched.
struct LqSearchRequest {
  LqHandle handle;
  LqSearchEntry* entries;
  int32_t capacity;
  int32_t waitSeconds;
  int32_t reserved;
  uint32_t* count;
};

void CloseRecordSocket(LqContext* record) {
  if (record && record->socket != INVALID_SOCKET) {
    closesocket(record->socket);
    record->socket = INVALID_SOCKET;
  }
}

// The IP helper tables answer a size query first; the buffer comes from the
// local heap and is the caller's to free. Null when the table is unreadable.
template <typename Table, typename Reader>
Table* ReadTable(Reader reader) {
  ULONG size = 0;
  if (reader(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return nullptr;
  Table* table = static_cast<Table*>(LocalAlloc(LPTR, size));
  if (!table) return nullptr;
  if (reader(table, &size, FALSE) != NO_ERROR) {
    LocalFree(table);
    return nullptr;
  }
  return table;
}

// The same through iphlpapi.dll, bound from the system folder for the call:
// it is not one of the system's known DLLs, and the program that loads this
// library may run elevated from a folder others can write to.
template <typename Table, typename Reader>
Table* ReadHelperTable(const char* entry) {
  HMODULE helper = LoadSystemLibrary(L"iphlpapi.dll");
  Reader reader = SystemEntry<Reader>(helper, entry);
  Table* table = reader != nullptr ? ReadTable<Table>(reader) : nullptr;
  if (helper != nullptr) FreeLibrary(helper);
  return table;
}

// One echo request to x.y.z.255 of every interface but the last row of the
// table. The replies are never read: answering puts the printer in the ARP
// table, which is all the search needs.
void SendBroadcasts(SOCKET raw) {
  // Wine (like Windows) refuses a send to a broadcast address without it.
  BOOL on = TRUE;
  setsockopt(raw, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
  MIB_IPADDRTABLE* table = ReadHelperTable<MIB_IPADDRTABLE, decltype(&GetIpAddrTable)>("GetIpAddrTable");
  if (!table) return;
  for (DWORD i = 0; i + 1 < table->dwNumEntries; ++i) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = table->table[i].dwAddr;
    reinterpret_cast<uint8_t*>(&to.sin_addr.s_addr)[3] = 255;
    uint8_t packet[lq::kBroadcastEchoSize];
    lq::BuildBroadcastEcho(packet, GetTickCount());
    sendto(raw, reinterpret_cast<const char*>(packet), sizeof packet, 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
  }
  LocalFree(table);
}

// Up to three unicast echoes; true when the host itself answers one.
bool ConfirmAddress(const char* ipText) {
  SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (raw == INVALID_SOCKET) return false;
  DWORD timeout = kConfirmTimeoutMs;
  bool confirmed = false;
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = inet_addr(ipText);
  bool ready = setsockopt(raw, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) == 0 &&
               setsockopt(raw, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout) == 0;
  if (ready && to.sin_addr.s_addr == INADDR_NONE) {
    const hostent* entry = gethostbyname(ipText);
    if (entry && entry->h_addr_list && entry->h_addr_list[0])
      std::memcpy(&to.sin_addr, entry->h_addr_list[0], sizeof to.sin_addr);
    else
      ready = false;
  }
  char* request = ready ? static_cast<char*>(LocalAlloc(LPTR, kPacketBufferSize)) : nullptr;
  char* reply = request ? static_cast<char*>(LocalAlloc(LPTR, kPacketBufferSize)) : nullptr;
  const uint16_t identifier = static_cast<uint16_t>(GetCurrentProcessId());
  bool failed = false;
  for (int attempt = 0; reply && !confirmed && !failed && attempt < kConfirmAttempts; ++attempt) {
    uint8_t packet[lq::kConfirmEchoSize];
    const lq::SentEcho sent = {to.sin_addr.s_addr, identifier, static_cast<uint16_t>(attempt)};
    lq::BuildConfirmEcho(packet, sent.identifier, sent.sequence, GetTickCount());
    std::memcpy(request, packet, sizeof packet);
    if (sendto(raw, request, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAETIMEDOUT) continue;
      break;
    }
    // Every ICMP message of the computer arrives here; the ones that are not
    // our reply are passed over until the attempt's second is up, so that
    // neither a flood of them nor a single stray one decides the check.
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= kConfirmTimeoutMs) break;
      DWORD left = kConfirmTimeoutMs - spent;
      setsockopt(raw, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&left), sizeof left);
      sockaddr_in from = {};
      int fromLength = sizeof from;
      int got = recvfrom(raw, reply, kPacketBufferSize, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      // An oversized datagram still fills the buffer; only its start matters.
      if (got == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) got = kPacketBufferSize;
      if (got == SOCKET_ERROR) {
        failed = WSAGetLastError() != WSAETIMEDOUT;
        break;
      }
      if (lq::IsAcceptedEchoReply(reinterpret_cast<const uint8_t*>(reply), static_cast<size_t>(got),
                                  from.sin_addr.s_addr, sent)) {
        confirmed = true;
        break;
      }
    }
  }
  if (reply) LocalFree(reply);
  if (request) LocalFree(request);
  closesocket(raw);
  return confirmed;
}

// Lists every ARP row that passes the maker filter and answers the unicast
// echo, up to the caller's capacity.
void WalkArpTable(const LqSearchRequest& request) {
  MIB_IPNETTABLE* table = ReadHelperTable<MIB_IPNETTABLE, decltype(&GetIpNetTable)>("GetIpNetTable");
  if (!table) return;
  uint32_t& count = *request.count;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPNETROW& row = table->table[i];
    char mac[lq::kMacTextLength + 1];
    lq::FormatMacText(row.bPhysAddr, mac);
    if (!lq::PassesMakerFilter(mac)) continue;
    if (static_cast<int64_t>(count) >= request.capacity) break;
    LqSearchEntry& entry = request.entries[count];
    uint8_t address[4];
    std::memcpy(address, &row.dwAddr, 4);
    char ipText[16];
    lq::FormatIpText(address, ipText);
    std::memset(entry.ipAddress, 0, sizeof entry.ipAddress);
    std::memcpy(entry.ipAddress, ipText, std::strlen(ipText));
    if (!ConfirmAddress(ipText)) continue;
    std::memset(entry.macAddress, 0, sizeof entry.macAddress);
    std::memcpy(entry.macAddress, mac, lq::kMacTextLength);
    ++count;
  }
  LocalFree(table);
}

LRESULT OnSearchCreate(HWND window, const CREATESTRUCTA* create) {
  auto* request = static_cast<LqSearchRequest*>(create->lpCreateParams);
  *request->count = 0;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(request));
  LqContext* record = LqLookup(request->handle);
  if (record) record->socket = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (!record || record->socket == INVALID_SOCKET) {
    if (record) record->errorValue = 0;
    DestroyWindow(window);
    return 0;
  }
  SendBroadcasts(record->socket);
  // A wait that cannot be timed would never end: the search fails instead.
  if (!g_lqSeams.setTimer(window, kSearchTimer, LqLimitMs(request->waitSeconds, 1), nullptr)) {
    record->errorValue = 0;
    DestroyWindow(window);
  }
  return 0;
}

void OnSearchTimer(HWND window) {
  auto* request = reinterpret_cast<LqSearchRequest*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!request) return;
  KillTimer(window, kSearchTimer);
  LqContext* record = LqLookup(request->handle);
  if (record) {
    record->errorValue = 1;
    WalkArpTable(*request);
  }
  DestroyWindow(window);
}

LRESULT CALLBACK SearchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnSearchCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
    case WM_TIMER:
      OnSearchTimer(window);
      return 0;
    case WM_DESTROY: {
      auto* request = reinterpret_cast<LqSearchRequest*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (request) CloseRecordSocket(LqLookup(request->handle));
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

/// A search handle: a record that holds the library's instance; nothing is sent.
extern "C" LqHandle WINAPI LqOpenSearch(void) {
  LqContext* record = nullptr;
  LqHandle handle = LqAllocContext(&record);
  if (handle == -1) return -1;
  record->instance = g_lq.instance;
  record->errorValue = 0;
  return handle;
}

/// Frees the search record; 0 for handle 0 or a handle not open.
extern "C" int WINAPI LqCloseSearch(LqHandle handle) {
  LqContext* record = LqLookup(handle);
  if (!record) return 0;
  // Closed from the caller's own window while a search waits: the search
  // window finds the handle gone and ends without touching the record.
  CloseRecordSocket(record);
  LqFreeContext(handle);
  return 1;
}

/// Broadcast search. 1 when the wait ended and the ARP table was examined,
/// whatever the number found; 0 when the search could not start.
extern "C" int WINAPI LqSendSearch(LqHandle handle, LqSearchEntry* entries, int32_t capacity, int32_t waitSeconds,
                                   int32_t reserved, uint32_t* count) {
  LqContext* record = LqLookup(handle);
  if (!record || !count) return 0;
  *count = 0;
  record->errorValue = 0;
  LqSearchRequest request = {handle, entries, entries ? capacity : 0, waitSeconds < 0 ? 0 : waitSeconds, reserved,
                             count};
  std::snprintf(record->className, sizeof record->className, "%s %d", kSearchClassWord,
                static_cast<int>(GetTickCount()));
  char className[sizeof record->className];
  std::memcpy(className, record->className, sizeof className);
  const HINSTANCE instance = record->instance;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = SearchWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);  // a class of the same name from this tick serves as well
  LqRunHiddenWindow(className, 0, &request);
  UnregisterClassA(className, instance);

  record = LqLookup(handle);
  return record && record->errorValue != 0 ? 1 : 0;
}

/// Listens on the DHCP server port for seconds x rounds seconds and appends
/// the MAC address of every maker's client not yet listed. The caller's count
/// is where the list goes on; at most 256 entries are ever written.
extern "C" int WINAPI LqSendSearch_DHCPreq(LqHandle handle, LqSearchEntry* entries, uint32_t seconds,
                                           uint32_t rounds, uint32_t* count) {
  LqContext* record = LqLookup(handle);
  if (!record || !entries || !count) return 0;
  record->timeStep = static_cast<int32_t>(seconds ? seconds : 5);
  record->rounds = static_cast<int32_t>(rounds ? rounds : 1);
  const uint32_t limitMs = LqLimitMs(seconds ? seconds : 5, rounds ? rounds : 1);

  SOCKET listener = socket(AF_INET, SOCK_DGRAM, 0);
  record->socket = listener;
  if (listener == INVALID_SOCKET) {
    record->errorValue = 0;
    return 0;
  }
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(kDhcpServerPort);
  local.sin_addr.s_addr = INADDR_ANY;
  // Another program holding the port must end the listen with 0 at once. A
  // receive on the unbound socket reports that on Windows, but not on every
  // socket layer (Wine's waits quietly), so the bind's own result decides.
  if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
    record->errorValue = 0;
    CloseRecordSocket(record);
    return 0;
  }
  u_long nonBlocking = 1;
  ioctlsocket(listener, FIONBIO, &nonBlocking);

  char* buffer = static_cast<char*>(LocalAlloc(LPTR, kDhcpBufferSize));
  int result = buffer ? 1 : 0;
  const DWORD start = GetTickCount();
  while (buffer && static_cast<uint32_t>(GetTickCount() - start) < limitMs) {
    std::memset(buffer, 0, kDhcpBufferSize);
    int got = recv(listener, buffer, kDhcpBufferSize, 0);
    // Any host may send an oversized datagram: its first bytes are read like
    // any other request rather than ending the listen.
    if (got == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) got = kDhcpBufferSize;
    if (got == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEWOULDBLOCK) {
        Sleep(kDhcpPollMs);
        continue;
      }
      record->errorValue = 0;
      result = 0;
      break;
    }
    if (got == 0) break;
    char mac[lq::kMacTextLength + 1];
    if (lq::DhcpRequestMac(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(got), mac))
      lq::AppendDhcpMac(reinterpret_cast<uint8_t*>(entries), count, mac);
    Sleep(kDhcpPollMs);
  }
  if (buffer) LocalFree(buffer);
  CloseRecordSocket(record);
  return result;
}
