#include "lan_worker.h"

#include <cstring>
#include <vector>

#include "command_kinds.h"
#include "lan_chunk.h"
#include "port_io.h"
#include "result_codes.h"

namespace {

// The bounds of the one-by-one LAN exchange, so a printer meets the same
// open attempts, waits and receive passes on either path (the chunks are
// sent by the one loop of lan_chunk.h).
constexpr int kOpenAttempts = 3;
constexpr DWORD kOpenRetryMs = 3;
constexpr int kReceivePasses = 4;
constexpr DWORD kPassWaitMs = 300;  // 200 ms, then 100 ms more on LAN
constexpr int kRecvTries = 10;
constexpr DWORD kRecvTryWaitMs = 30;
constexpr DWORD kReplyDelayMs = 1000;
constexpr DWORD kAttemptDelayMs = 50;
constexpr int kReplyAttempts = 3;
constexpr uint32_t kDrainCapacity = 255;
constexpr SIZE_T kStackBytes = 64 * 1024;

// A job with a time limit stops waiting for replies once it has passed.
bool Overdue(const LanJob* job) {
  return job->triesLimitMs != 0 && GetTickCount() - job->startTick >= job->triesLimitMs;
}

// A worker keeps the cause of a failed chunk for the run's log; it has no
// progress line and no messages of its own to pump.
struct WorkerSteps {
  LanJob* job;
  void Refused(const char* cause) { job->failure = cause; }
  void Waited() {}
  void Stalled(ULONGLONG) {}
  void BetweenCalls() {}
  void OutOfTime(uint32_t, uint32_t, ULONGLONG) { job->failure = "PRT_ERR_SEND(grace)"; }
};

// Sends `length` bytes in the one-by-one chunks; `progress` publishes the
// bytes handed on. Returns 0 or PRT_ERR_SEND.
int32_t SendBytes(LanJob* job, LqHandle port, const BYTE* data, uint32_t length, bool progress) {
  uint32_t waitUnits = length / kBytesPerWaitUnit;
  if (waitUnits < kMinWriteWaitUnits) waitUnits = kMinWriteWaitUnits;
  const ULONGLONG grace = static_cast<ULONGLONG>(waitUnits) * job->writeSliceMs;
  WorkerSteps steps{job};
  uint32_t position = 0;
  while (position < length) {
    const uint32_t chunk = length - position < kChunkBytesFile ? length - position : kChunkBytesFile;
    uint32_t sent = 0;
    if (!SendLanChunk(*job->library, port, data + position, chunk, grace, job->writeSliceMs, steps, &sent)) {
      return PRT_ERR_SEND;
    }
    position += sent;
    if (progress) InterlockedExchange(&job->sent, static_cast<LONG>(position));
  }
  return 0;
}

// The reply of `kind` as the one-by-one receive takes it on LAN: passes of
// a few receives, each piece added after the last, a reply complete at its
// final NUL (a reset reply at any data); the drain before a command ends
// after kDrainLimitMs or kDrainLimitBytes whatever keeps arriving. Returns 0
// or PRT_ERR_NOREPLY; *received the bytes of the reply.
int32_t Receive(LanJob* job, LqHandle port, uint16_t kind, BYTE* buffer, uint32_t capacity, uint32_t* received) {
  int32_t result = PRT_ERR_NOREPLY;
  uint32_t got = 0, drained = 0;
  const ULONGLONG drainStart = GetTickCount64();
  for (int passes = kReceivePasses; passes > 0 && !Overdue(job);) {
    Sleep(kPassWaitMs);
    --passes;
    const int tries = kind == MODE_BFCLEAR ? 1 : kRecvTries;
    for (int t = 0; t < tries; ++t) {
      Sleep(kRecvTryWaitMs);
      if (kind == MODE_BFCLEAR) got = 0;
      const uint32_t space = capacity - got;
      if (space == 0) {
        passes = 0;
        break;
      }
      std::memset(buffer + got, 0, space);
      int32_t count = 0;
      const int ok =
          job->library->RecvPort(port, reinterpret_cast<char*>(buffer + got), static_cast<int32_t>(space), &count);
      if (count < 0) count = 0;
      if (static_cast<uint32_t>(count) > space) count = static_cast<int32_t>(space);
      if (ok != 1 || count == 0) continue;
      got += static_cast<uint32_t>(count);
      if (kind == MODE_BFCLEAR) {
        passes = 3;
        drained += static_cast<uint32_t>(count);
      }
      if (buffer[got - 1] == 0 || kind == MODE_RESET3) {
        result = 0;
        passes = 0;
        break;
      }
    }
    if (kind == MODE_BFCLEAR && (drained >= kDrainLimitBytes || GetTickCount64() - drainStart >= kDrainLimitMs)) {
      passes = 0;
    }
  }
  *received = got;
  return result;
}

// The wait for the reply of a reset or a version read, with the one-by-one
// attempts; a wrong answer followed by silence reports the wrong answer.
int32_t AwaitReply(LanJob* job, LqHandle port) {
  BYTE reply[kReplyBufferBytes];
  int32_t result = 0;
  bool wrongReply = false;
  Sleep(kReplyDelayMs);
  for (int attempt = 0; attempt < kReplyAttempts && !Overdue(job); ++attempt) {
    Sleep(kAttemptDelayMs);
    uint32_t received = 0;
    bool final = false;
    if (job->kind == MODE_RESET3) {
      result = Receive(job, port, MODE_RESET3, reply, kReset3Capacity, &received);
      if (result == 0 && !IsReset3Reply(reply, received)) result = PRT_ERR_DATA;
      final = result == 0;
    } else {
      result = Receive(job, port, MODE_READFIX, reply, kReadFixCapacity, &received);
      if (result == 0) {
        final = true;
        if (!HasReadFixHeader(reply, received)) {
          result = PRT_ERR_DATA;
        } else if (ParseReadFixText(reply + 2, received - 2, job->version) != 0) {
          result = PRT_ERR_FORMAT;
        }
      }
    }
    if (final) break;
    if (result == PRT_ERR_DATA) wrongReply = true;
  }
  if (wrongReply && (result == PRT_ERR_NOREPLY || result == PRT_ERR_RECEIVE)) result = PRT_ERR_DATA;
  if (result != 0) job->failure = "CommandWait";
  return result;
}

LqHandle OpenPort(LanJob* job) {
  const NetLibraryBinding* lib = job->library;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    const LqHandle lq = lib->OpenPort(job->address);
    if (lq != -1) {
      if (lib->SetUseICMP(1) != 0) return lq;
      lib->ClosePort(lq);  // the library owns a record per open port
    }
    Sleep(kOpenRetryMs);
  }
  job->failure = "PRT_ERR_OPEN(OpenPort)";
  return -1;
}

// One connection: the block, or the command and its reply. Only the block
// takes the close's result: a reply already told whether the printer heard.
int32_t OneExchange(LanJob* job) {
  const LqHandle port = OpenPort(job);
  if (port == -1) return PRT_ERR_OPEN;
  int32_t result = 0;
  if (job->kind == MODE_FWSEND) {
    result = SendBytes(job, port, job->data, job->length, true);
  } else {
    size_t length = 0;
    const uint8_t* command = FixedCommandBytes(job->kind, &length);
    const BYTE zero = 0;
    SendBytes(job, port, &zero, 1, false);  // a printer waiting inside a command takes it as its end
    BYTE scratch[kDrainCapacity + 1];
    uint32_t drained = 0;
    Receive(job, port, MODE_BFCLEAR, scratch, kDrainCapacity, &drained);
    result = SendBytes(job, port, command, static_cast<uint32_t>(length), false);
    if (result == 0) result = AwaitReply(job, port);
  }
  const bool closed = job->library->ClosePort(port) == 1;
  if (!closed && result == 0 && job->kind == MODE_FWSEND) {
    job->failure = "PRT_ERR_SEND(ClosePort)";
    result = PRT_ERR_SEND;
  }
  return result;
}

int32_t RunJob(LanJob* job) {
  const NetLibraryBinding* lib = job->library;
  if (lib == nullptr || !lib->OpenPort || !lib->SetUseICMP || !lib->WritePort || !lib->ClosePort || !lib->RecvPort) {
    job->failure = "PRT_ERR_OPEN(no library)";
    return PRT_ERR_OPEN;
  }
  if (job->tries <= 0) return PRT_ERR_NOREPLY;  // its time was gone before it began
  int32_t result = OneExchange(job);
  for (int t = 1; result != 0 && t < job->tries; ++t) {
    if (job->triesLimitMs != 0 && GetTickCount() - job->startTick + job->retryMs >= job->triesLimitMs) break;
    Sleep(job->retryMs);
    result = OneExchange(job);
  }
  return result;
}

DWORD WINAPI JobThread(void* parameter) {
  auto* job = static_cast<LanJob*>(parameter);
  job->result = RunJob(job);
  job->endTick = GetTickCount();
  InterlockedExchange(&job->finished, 1);  // publishes the figures before the flag
  if (job->wake != nullptr) SetEvent(job->wake);
  return 0;
}

// A thread made ahead of its job. Once its event is set the thread owns
// this record and the event: the GUI thread hands the job over before,
// and touches neither afterwards.
struct ReadyThread {
  HANDLE thread = nullptr;
  HANDLE go = nullptr;
  LanJob* job = nullptr;  // none: the thread ends without work
};
std::vector<ReadyThread*> g_ready;

DWORD WINAPI ReadyThreadMain(void* parameter) {
  auto* ready = static_cast<ReadyThread*>(parameter);
  WaitForSingleObject(ready->go, INFINITE);
  LanJob* job = ready->job;
  CloseHandle(ready->go);
  delete ready;
  return job != nullptr ? JobThread(job) : 0;
}

}  // namespace

bool MakeLanJob(LanJob* job) {
  if (!g_ready.empty()) {
    ReadyThread* ready = g_ready.back();
    g_ready.pop_back();
    ready->job = job;
    job->thread = ready->thread;
    job->go = ready->go;
    return true;
  }
  job->thread =
      CreateThread(nullptr, kStackBytes, JobThread, job, CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (job->thread != nullptr) return true;
  job->result = PRT_ERR_MEMORY;
  job->failure = "CreateThread";
  return false;
}

void StartLanJob(LanJob* job) {
  job->startTick = GetTickCount();
  if (job->go != nullptr) {
    SetEvent(job->go);  // the thread closes it
    job->go = nullptr;
  } else {
    ResumeThread(job->thread);
  }
}

void ReadyLanWorkers(size_t count) {
  while (g_ready.size() < count) {
    auto* ready = new ReadyThread;
    ready->go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (ready->go != nullptr) {
      ready->thread = CreateThread(nullptr, kStackBytes, ReadyThreadMain, ready, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                   nullptr);
    }
    if (ready->thread == nullptr) {
      if (ready->go != nullptr) CloseHandle(ready->go);
      delete ready;
      return;  // a run makes what it lacks itself
    }
    g_ready.push_back(ready);
  }
}

void EndLanWorkers() {
  for (ReadyThread* ready : g_ready) {
    const HANDLE thread = ready->thread;
    ready->job = nullptr;
    SetEvent(ready->go);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  g_ready.clear();
}

bool LanJobFinished(LanJob* job) { return InterlockedCompareExchange(&job->finished, 0, 0) != 0; }

void JoinLanJob(LanJob* job) {
  if (job->thread == nullptr) return;
  WaitForSingleObject(job->thread, INFINITE);
  CloseHandle(job->thread);
  job->thread = nullptr;
}

uint32_t LanJobSent(LanJob* job) { return static_cast<uint32_t>(InterlockedCompareExchange(&job->sent, 0, 0)); }
