// The network data port: one non-blocking TCP connection to the printer's
// raw port 9100 that one thread may write, another read and a third close.
#include <cstring>

#include "lq_context.h"

namespace {

constexpr u_short kDataPort = 9100;
constexpr uint32_t kPieceSize = 16384;
constexpr DWORD kPauseMs = 100;
constexpr DWORD kAddressInUsePauseMs = 500;
// How long a close waits for a reset after the printer closed first, and
// how often it looks: at least one retransmission time (300 ms is the
// shortest a stack uses), since our bytes still on the way may first have
// to be sent again before the printer's side can answer them with a reset.
constexpr DWORD kResetWaitMs = 320;
// Each look is a call into the socket layer; with dozens of printers
// closing at once, looking more often only costs processor time.
constexpr DWORD kResetPollMs = 20;
// How long a close lets a printer that just got the last bytes show a
// reset or its own close before ours begins. Some stacks (Wine's among
// them) report a reset that comes after our half-close as an orderly end,
// so a printer that drops the rest of a block a moment after the last send
// would pass for one that took it all.
constexpr DWORD kSettleMs = 40;
constexpr int kDrainBufferSize = 256;
// The send buffer of a connection whose system cannot count unacknowledged
// bytes. Small, so that a write ends only when the printer took all but a
// little, at its own pace, and the close knows how much may still be on the
// way; large enough that a fast printer still takes hundreds of megabytes a
// second on loopback. Some stacks double what is asked for.
constexpr int kWatchedSendBuffer = 8192;
// What a printer's own receive buffer may hold beyond ours: bytes it has
// acknowledged but not read, which it answers with a reset when it stops.
constexpr uint64_t kPrinterWindowBytes = 32 * 1024;
// winsock.h (version 1.1) does not name the shutdown directions.
constexpr int kShutdownSend = 1;
// How many time limits a write may wait on a printer that takes no byte.
constexpr uint32_t kStallRounds = 5;
constexpr int kShutdownBoth = 2;

/// L = time step x rounds seconds in milliseconds.
uint32_t TimeLimit(const LqContext* record) { return LqLimitMs(record->timeStep, record->rounds); }

/// Milliseconds since start; unsigned, so the tick counter's wrap is harmless.
uint32_t Elapsed(DWORD start) { return static_cast<uint32_t>(GetTickCount() - start); }

/// Waits at most waitMs for the socket to become writable (write) or
/// readable (read). Used where a fixed pause would do: it ends the pause as
/// soon as the printer takes or offers data, and never lasts longer, so a
/// close on another thread is still noticed in time.
bool WaitSocket(SOCKET socket, bool write, DWORD waitMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval timeout = {static_cast<long>(waitMs / 1000), static_cast<long>((waitMs % 1000) * 1000)};
  int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &timeout);
  if (ready == SOCKET_ERROR) {
    // Never turn a failing select into a busy loop.
    Sleep(waitMs);
    return false;
  }
  return ready > 0;
}

/// Connects the non-blocking socket and waits open-waits times one second
/// for it to become writable.
bool ConnectWithWait(LqContext* record, const sockaddr_in& destination) {
  if (g_lqSeams.connectSocket(record->socket, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination)) == 0) return true;
  int code = WSAGetLastError();
  if (code != WSAEWOULDBLOCK) {
    record->errorValue = code;
    return false;
  }
  for (uint32_t wait = 0; wait < record->openWaits; ++wait) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(record->socket, &writable);
    timeval timeout = {1, 0};
    int ready = select(0, nullptr, &writable, nullptr, &timeout);
    if (ready == SOCKET_ERROR) {
      record->errorValue = WSAGetLastError();
      return false;
    }
    if (ready == 0) {
      record->errorValue = WSAETIMEDOUT;
    } else if (FD_ISSET(record->socket, &writable)) {
      // A socket layer that reports a failed connect as writable must not
      // give a handle that cannot send: ask for the connect's own outcome.
      int pending = 0;
      int size = sizeof(pending);
      if (getsockopt(record->socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size) == 0 &&
          pending != 0) {
        record->errorValue = pending;
        return false;
      }
      record->errorValue = 0;
      return true;
    }
    Sleep(10);
  }
  record->errorValue = WSAETIMEDOUT;
  return false;
}

/// Resolves dotted text or a host name into the destination address.
bool ResolveHost(const char* host, sockaddr_in* destination) {
  memset(destination, 0, sizeof(*destination));
  destination->sin_family = AF_INET;
  destination->sin_port = htons(kDataPort);
  unsigned long address = inet_addr(host);
  if (address == INADDR_NONE) {
    hostent* entry = gethostbyname(host);
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0] || entry->h_length <= 0) return false;
    // Never copy more than the address field holds, whatever length the
    // resolver reports.
    size_t length = static_cast<size_t>(entry->h_length);
    if (length > sizeof(destination->sin_addr)) length = sizeof(destination->sin_addr);
    memcpy(&destination->sin_addr, entry->h_addr_list[0], length);
  } else {
    destination->sin_addr.s_addr = address;
  }
  return true;
}

/// Closes what a port record holds; the record itself is the caller's.
void ClosePortResources(LqContext* record) {
  if (record->socket != INVALID_SOCKET) closesocket(record->socket);
  record->socket = INVALID_SOCKET;
  if (record->sendLock) CloseHandle(record->sendLock);
  if (record->receiveLock) CloseHandle(record->receiveLock);
  record->sendLock = nullptr;
  record->receiveLock = nullptr;
}

/// The send lock of one write call: taken before its first send and kept
/// until the call ends, through its waits for the socket. A second writer
/// on the handle cannot slip its bytes between this call's pieces, and a
/// write to a slow printer costs no semaphore round trip per wait: each is
/// a call into the system, and with dozens of printers written at once
/// they were a good share of the run. A close never takes it; it meets
/// running calls through the closing flag and the record's references.
struct SendLockHold {
  explicit SendLockHold(HANDLE lock) : lock_(lock) {}
  ~SendLockHold() { Release(); }
  void Take() {
    if (held_) return;
    WaitForSingleObject(lock_, INFINITE);
    held_ = true;
  }
  void Release() {
    if (!held_) return;
    ReleaseSemaphore(lock_, 1, nullptr);
    held_ = false;
  }

 private:
  HANDLE lock_;
  bool held_ = false;
};

/// The printer's pace is measured from the first time the socket refused
/// data: from then on the socket takes bytes as fast as the printer does.
void NotePaceStart(LqContext* record) {
  if (record->paced) return;
  record->paced = 1;
  record->paceStart = GetTickCount();
  record->paceBytes = 0;
}

void NoteHanded(LqContext* record, uint32_t taken) {
  if (taken == 0) return;
  record->handedTotal += taken;
  if (record->paced) record->paceBytes += taken;
  record->lastHanded = GetTickCount();
}

/// Sends one piece of at most kPieceSize bytes. Fails on a socket error, on
/// a partial send that comes L or more after the previous progress, when the
/// port closes, or when the socket would block for kStallRounds times L: a
/// caller that writes on its only thread has nobody to close the port for
/// it, and a printer that stopped reading must not hold it for ever. The
/// longer bound leaves room for a printer that pauses to erase its flash.
bool SendPiece(LqContext* record, SendLockHold& lock, const char* data, uint32_t size) {
  const uint32_t limit = TimeLimit(record);
  DWORD start = GetTickCount();
  DWORD lastProgress = start;
  bool blockedAfterWait = false;
  for (;;) {
    if (record->closing != 0) return false;
    lock.Take();
    int result = g_lqSeams.sendSocket(record->socket, data, static_cast<int>(size), 0);
    int code = result == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (result == SOCKET_ERROR) {
      if (code != WSAEWOULDBLOCK) {
        record->errorValue = code;
        return false;
      }
      NotePaceStart(record);
      if (Elapsed(lastProgress) >= limit * kStallRounds) {
        record->errorValue = WSAETIMEDOUT;
        return false;
      }
    } else {
      uint32_t taken = static_cast<uint32_t>(result);
      record->sentInCall += taken;
      NoteHanded(record, taken);
      if (taken < size) NotePaceStart(record);
      if (taken >= size) {
        record->errorValue = 0;
        return true;
      }
      if (Elapsed(start) >= limit) {
        record->errorValue = 0;
        return false;
      }
      if (taken > 0) {
        data += taken;
        size -= taken;
        start = GetTickCount();
        lastProgress = start;
      }
    }
    // The call's reference keeps the record and socket alive through the
    // wait, and a close waits for this call to leave before it touches the
    // socket.
    if (blockedAfterWait && result == SOCKET_ERROR) {
      // Writable but still refusing: pause rather than spin.
      Sleep(10);
    }
    blockedAfterWait = WaitSocket(record->socket, true, kPauseMs);
  }
}

/// Shared checks of the transfer calls: a live handle, a buffer and a count
/// pointer. Runs the transfer with a reference on the record, so a close on
/// another thread can neither free it nor close its socket under the call.
template <typename Count, typename Transfer>
int RunTransfer(LqHandle handle, const void* buffer, Count* count, Transfer transfer) {
  LqContext* record = LqAcquire(handle);
  if (!record) return 0;
  int result = 0;
  if (!buffer || !count) {
    record->errorValue = 0;
  } else {
    *count = 0;
    result = transfer(record);
  }
  LqRelease(record);
  return result;
}

/// Write shared by both write exports.
int WritePort(LqContext* record, const char* data, uint32_t length, uint32_t* sent) {
  record->sentInCall = 0;
  int result = 1;
  {
    SendLockHold lock(record->sendLock);
    for (uint32_t offset = 0; offset < length;) {
      uint32_t piece = length - offset < kPieceSize ? length - offset : kPieceSize;
      if (!SendPiece(record, lock, data + offset, piece)) {
        result = 0;
        break;
      }
      offset += piece;
    }
  }
  if (record->sentInCall != 0) record->wrote = 1;
  record->lastWriteOk = static_cast<uint32_t>(result);
  *sent = static_cast<uint32_t>(record->sentInCall);
  return result;
}

/// One recv under the receive lock; the socket error is taken before the
/// semaphore call can change it.
int LockedRecv(LqContext* record, char* buffer, int32_t size, int* code) {
  WaitForSingleObject(record->receiveLock, INFINITE);
  int result = recv(record->socket, buffer, size, 0);
  *code = result == SOCKET_ERROR ? WSAGetLastError() : 0;
  ReleaseSemaphore(record->receiveLock, 1, nullptr);
  return result;
}

/// What a close finds on the printer's side of a connection data was
/// written on, before it closes its own: 0 when the connection stands,
/// kPrinterClosed after the printer's orderly close, or the code of a reset
/// or other socket error (the printer dropped the connection and with it
/// whatever the socket had accepted for it). A receive reports the
/// printer's close, but not always a reset that follows it; a send of no
/// bytes fails on a connection that was reset, so it asks for that while
/// our side is still open. What the printer sent is read and discarded.
constexpr int kPrinterClosed = -1;
int CheckPrinterSide(SOCKET socket) {
  if (g_lqSeams.sendSocket(socket, "", 0, 0) == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
    return WSAGetLastError();
  }
  char scratch[kDrainBufferSize];
  int early = recv(socket, scratch, sizeof(scratch), 0);
  if (early == 0) return kPrinterClosed;
  if (early == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return WSAGetLastError();
  return 0;
}

/// After the printer closed first: waits a short while for the reset that
/// its side sends for bytes of ours that reach it unread (bytes still on
/// the way when it closed). A reset answers within a round trip; a printer
/// that took everything sends none, so this wait is the whole cost of its
/// early close. Our side stays open meanwhile, or the reset could not be
/// told.
int AwaitReset(SOCKET socket) {
  DWORD start = GetTickCount();
  for (;;) {
    int code = CheckPrinterSide(socket);
    if (code != kPrinterClosed && code != 0) return code;
    if (Elapsed(start) >= kResetWaitMs) return 0;
    Sleep(kResetPollMs);
  }
}

/// Looks at the printer's side of a written connection until it shows a
/// close or a reset, for at most holdMs; returns what CheckPrinterSide saw
/// last.
int SettleAfterWrite(SOCKET socket, DWORD holdMs) {
  DWORD start = GetTickCount();
  for (;;) {
    int code = CheckPrinterSide(socket);
    if (code != 0 || Elapsed(start) >= holdMs) return code;
    Sleep(kResetPollMs);
  }
}

/// A close's verdict before its half-close on a connection whose last write
/// went out whole: 0 to go on with the half-close, kTookEverything when the
/// printer closed after it took every byte, or the code that tells the
/// write was lost. Our side stays open meanwhile: only then can a reset be
/// told from an orderly end.
constexpr int kTookEverything = -2;
int AwaitDelivery(LqContext* record) {
  const uint32_t limit = TimeLimit(record);
  uint64_t left = 0;
  if (record->sendBuffer == 0 && g_lqSeams.unacknowledged(record->socket, record->handedTotal, &left)) {
    // The system counts what the printer has not acknowledged: wait for
    // that to reach 0 while it goes down. A printer that closed with bytes
    // still unacknowledged and takes no more within a retransmission time,
    // or that takes nothing for a whole time limit, has lost them.
    DWORD lastProgress = GetTickCount();
    uint64_t fewest = left;
    bool closed = false;
    for (;;) {
      int side = CheckPrinterSide(record->socket);
      if (side != 0 && side != kPrinterClosed) return side;
      if (!g_lqSeams.unacknowledged(record->socket, record->handedTotal, &left)) left = 0;
      if (left == 0) return side == kPrinterClosed ? kTookEverything : 0;
      if (left < fewest) {
        fewest = left;
        lastProgress = GetTickCount();
      }
      if (side == kPrinterClosed && !closed) {
        closed = true;
        lastProgress = GetTickCount();
      }
      if (closed && Elapsed(lastProgress) >= kResetWaitMs) return WSAECONNABORTED;
      if (Elapsed(lastProgress) >= limit) return WSAETIMEDOUT;
      Sleep(kResetPollMs);
    }
  }
  // Without that count: keep our side open as long as a printer reading at
  // the pace it showed needs for what may still be on the way. Where the
  // socket never refused data the printer's pace is unknown and its buffer
  // had room for all of it: only our own buffer is waited for.
  uint64_t queued = 2 * static_cast<uint64_t>(record->sendBuffer) + (record->paced ? kPrinterWindowBytes : 0);
  if (queued > record->handedTotal) queued = record->handedTotal;
  const uint32_t paceMs = record->paced ? static_cast<uint32_t>(record->lastHanded - record->paceStart) : 0;
  const DWORD hold = LqDeliveryHoldMs(queued, record->paceBytes, paceMs, kSettleMs, limit);
  int side = SettleAfterWrite(record->socket, hold);
  if (side != kPrinterClosed) return side;
  // The printer ended the connection first. That is sound when it had read
  // everything, as a printer that restarts once it has the whole firmware
  // does; bytes still unread on its side draw a reset instead.
  side = AwaitReset(record->socket);
  return side != 0 ? side : kTookEverything;
}

/// Asks the system to count unacknowledged bytes on a new connection; where
/// it cannot, gives the socket a small send buffer (kWatchedSendBuffer).
void PrepareDeliveryWatch(LqContext* record) {
  uint64_t left = 0;
  if (g_lqSeams.unacknowledged(record->socket, 0, &left)) {
    record->sendBuffer = 0;
    return;
  }
  int size = kWatchedSendBuffer;
  setsockopt(record->socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof(size));
  int length = sizeof(size);
  if (getsockopt(record->socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &length) != 0 || size <= 0) {
    size = kWatchedSendBuffer;
  }
  record->sendBuffer = static_cast<uint32_t>(size);
}

/// Lets the printer finish and close its side after ours, for at most L;
/// what it still sends is discarded. Returns the code of a reset or socket
/// error seen meanwhile when data was written, else 0. (Wine reports a
/// reset that comes after our half-close as an orderly end; Windows
/// reports it to the receive.)
int DrainUntilPrinterCloses(LqContext* record) {
  char scratch[kDrainBufferSize];
  const uint32_t limit = TimeLimit(record);
  DWORD start = GetTickCount();
  for (;;) {
    int drained = recv(record->socket, scratch, sizeof(scratch), 0);
    if (drained == 0) return 0;
    if (drained == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
      return record->wrote ? WSAGetLastError() : 0;
    }
    if (Elapsed(start) >= limit) return 0;
    WaitSocket(record->socket, false, kPauseMs);
  }
}

}  // namespace

/// Opens a connected, non-blocking data port to host (dotted text or name).
extern "C" LqHandle WINAPI LqOpenPort(const char* host) {
  if (!host) return -1;
  LqContext* record = nullptr;
  LqHandle handle = LqAllocContext(&record);
  if (handle == -1) return -1;
  LqReadSettings(record, true);
  record->sendLock = CreateSemaphoreA(nullptr, 1, 1, nullptr);
  record->receiveLock = CreateSemaphoreA(nullptr, 1, 1, nullptr);
  record->socket = INVALID_SOCKET;
  sockaddr_in destination;
  if (!record->sendLock || !record->receiveLock || !LqSetHost(record, host) ||
      !ResolveHost(record->host, &destination) || record->rounds <= 0) {
    ClosePortResources(record);
    LqFreeContext(handle);
    return -1;
  }
  for (int32_t attempt = 0; attempt < record->rounds; ++attempt) {
    record->socket = socket(AF_INET, SOCK_STREAM, 0);
    if (record->socket == INVALID_SOCKET) break;
    u_long nonBlocking = 1;
    if (ioctlsocket(record->socket, FIONBIO, &nonBlocking) == 0 && ConnectWithWait(record, destination)) {
      PrepareDeliveryWatch(record);
      record->errorValue = 0;
      return handle;
    }
    closesocket(record->socket);
    record->socket = INVALID_SOCKET;
    // Only a local address clash is worth another attempt.
    if (record->errorValue != WSAEADDRINUSE) break;
    Sleep(kAddressInUsePauseMs);
  }
  ClosePortResources(record);
  LqFreeContext(handle);
  return -1;
}

/// Sends length bytes in pieces; sent tells how far it got, also on failure.
extern "C" int WINAPI LqWritePort(LqHandle handle, const char* data, uint32_t length, uint32_t* sent) {
  return RunTransfer(handle, data, sent, [&](LqContext* record) { return WritePort(record, data, length, sent); });
}

/// Same behaviour as LqWritePort.
extern "C" int WINAPI LqWritePort_Async(LqHandle handle, const char* data, uint32_t length, uint32_t* sent) {
  return LqWritePort(handle, data, length, sent);
}

/// Waits up to L for data; 1 with 0 bytes when none came or the printer
/// closed, 0 on a socket error or while the port closes (error value -1).
extern "C" int WINAPI LqReadPort(LqHandle handle, char* buffer, int32_t size, int32_t* received) {
  return RunTransfer(handle, buffer, received, [&](LqContext* record) {
    const uint32_t limit = TimeLimit(record);
    DWORD start = GetTickCount();
    for (;;) {
      if (record->closing != 0) {
        record->errorValue = -1;
        return 0;
      }
      int code = 0;
      int result = LockedRecv(record, buffer, size, &code);
      if (result != SOCKET_ERROR) {
        record->errorValue = 0;
        *received = result;
        return 1;
      }
      if (code != WSAEWOULDBLOCK) {
        record->errorValue = code;
        return 0;
      }
      if (Elapsed(start) >= limit) {
        record->errorValue = 0;
        *received = 0;
        return 1;
      }
      WaitSocket(record->socket, false, kPauseMs);
    }
  });
}

/// One receive without waiting; 0 with error value 0 when nothing waits.
extern "C" int WINAPI LqRecvPort(LqHandle handle, char* buffer, int32_t size, int32_t* received) {
  return RunTransfer(handle, buffer, received, [&](LqContext* record) {
    if (record->closing != 0) {
      record->errorValue = 0;
      return 0;
    }
    int code = 0;
    int result = LockedRecv(record, buffer, size, &code);
    if (result == SOCKET_ERROR) {
      record->errorValue = code == WSAEWOULDBLOCK ? 0 : code;
      return 0;
    }
    record->errorValue = 0;
    *received = result;
    return 1;
  });
}

/// Stops running transfers, closes the connection gracefully and frees the
/// handle; the handle is gone whatever the result. The handle stops
/// resolving before anything else, so a second close of it returns 0 and no
/// new transfer can start; the record is freed by the last call inside it.
/// Returns 0 (with the error value set) when a connection that data was
/// written on shows that the printer did not take it all.
extern "C" int WINAPI LqClosePort(LqHandle handle) {
  LqContext* record = LqDetach(handle);
  if (!record) return 0;
  InterlockedExchange(&record->closing, 1);
  // Running transfers see the flag within one pause and leave; only this
  // call's own reference is then left. Their reference is what keeps the
  // record and socket alive, so once they are out the close goes on at once.
  while (InterlockedCompareExchange(&record->users, 0, 0) > 1) Sleep(1);

  int result = 1;
  if (record->socket == INVALID_SOCKET) {
    record->errorValue = 0;
  } else {
    // A write that was cut short already told its caller; the close then
    // only looks for what the printer did meanwhile.
    int lost = !record->wrote          ? 0
               : record->lastWriteOk ? AwaitDelivery(record)
                                     : SettleAfterWrite(record->socket, kSettleMs);
    if (lost == kPrinterClosed) lost = AwaitReset(record->socket);
    if (lost == kTookEverything) {
      lost = 0;
    } else if (!lost) {
      shutdown(record->socket, kShutdownSend);
      lost = DrainUntilPrinterCloses(record);
    }
    shutdown(record->socket, kShutdownBoth);
    if (closesocket(record->socket) == SOCKET_ERROR) {
      int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) lost = code;
    }
    record->errorValue = lost;
    if (lost) result = 0;
    // The socket is gone either way; the record must not close it again.
    record->socket = INVALID_SOCKET;
  }
  ClosePortResources(record);
  LqRelease(record);
  return result;
}
