// Work on one LAN printer on a thread of its own: the firmware block, a
// reset or a version read, through the printer's bound library. A worker
// touches only its job record, its own port handle and the data the job
// points at; nothing of the one-by-one exchange (its globals, its waits
// that pump messages, the debug log) runs on it, so any number of workers
// may run beside the GUI thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "net_binding.h"
#include "printer_command.h"

struct LanJob {
  // Filled by the GUI thread before the start.
  uint16_t kind = 0;  // MODE_FWSEND: the block; MODE_RESET3, MODE_READFIX: the command and its reply
  char address[32] = {};
  const NetLibraryBinding* library = nullptr;
  const BYTE* data = nullptr;  // MODE_FWSEND
  uint32_t length = 0;
  DWORD writeSliceMs = 0;
  int tries = 1;           // MODE_READFIX: exchanges until one answers
  DWORD retryMs = 0;       // pause between them
  DWORD triesLimitMs = 0;  // the job ends, a try in progress included, once this much has passed (0: no limit)
  HANDLE wake = nullptr;   // set when the job ends

  // Written by the worker: `sent` at any time, the rest before `finished`.
  volatile LONG sent = 0;
  volatile LONG finished = 0;
  int32_t result = 0;
  const char* failure = "";  // the cause for the log
  char version[kFirmwareTextBytes] = {};
  DWORD startTick = 0;
  DWORD endTick = 0;

  HANDLE thread = nullptr;  // the GUI thread's
  HANDLE go = nullptr;      // set to let a ready thread (ReadyLanWorkers) take the job
};

// Gives the job a thread that does not run yet, a ready one or a new one;
// false when none could be made (the job then holds PRT_ERR_MEMORY).
// StartLanJob lets it run. A run makes the threads of all the printers it
// starts before it lets any run: made beside running workers, each thread
// took milliseconds more to make.
bool MakeLanJob(LanJob* job);
void StartLanJob(LanJob* job);
// Makes threads that wait for a job, up to `count`, while the operator
// reads the confirmation: under Wine a thread takes milliseconds to make
// and to start, and dozens of them made after the click delayed every
// printer of the list by a fifth of a second. EndLanWorkers ends those no
// job took. Both on the GUI thread only.
void ReadyLanWorkers(size_t count);
void EndLanWorkers();
// True once the job's work is over; its figures can then be read.
bool LanJobFinished(LanJob* job);
// After LanJobFinished: waits for the thread's very end and closes it.
void JoinLanJob(LanJob* job);
uint32_t LanJobSent(LanJob* job);
