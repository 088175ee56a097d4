// Time limits of lanquay's waits, kept free of the platform so that the
// arithmetic is tested natively.
#pragma once

#include <cstdint>

// seconds x rounds x 1000 milliseconds, computed wide and kept within
// 0..0x7FFFFFFF: odd registry or caller values can neither overflow a tick
// difference nor exceed what SetTimer and the socket time-outs accept. 0 for
// a factor of 0 or less.
uint32_t LqLimitMs(int64_t seconds, int64_t rounds);

// How long a close keeps its side open after the last write, where the
// system cannot say how many of the bytes it took are still unacknowledged:
// long enough for a printer reading at the pace it showed during the write
// to take what may still wait on the way (`queuedBound` bytes), so that a
// printer which stops part way and resets does so while the reset can still
// be told. paceBytes bytes were taken in paceMs once the socket first
// refused data; without such a measure (the socket never refused) the
// slowest pace a printer reads at is assumed. Never below settleMs, never
// above limitMs.
uint32_t LqDeliveryHoldMs(uint64_t queuedBound, uint64_t paceBytes, uint32_t paceMs, uint32_t settleMs,
                          uint32_t limitMs);

// The time-outs of HKCU\Software\NWD_QUAYDLL as one open uses them.
struct LqTimeouts {
  int32_t timeStep;    // "TIME", seconds
  int32_t rounds;      // "RETRY"
  uint32_t openWaits;  // "OPEN_TIMEOUT", one-second waits
};

// Defaults and upper bounds of the three values. The library's waits block
// the caller's only thread without dispatching its messages, so a mistyped
// value must not freeze a program for hours.
constexpr uint32_t kLqDefaultTimeStep = 4;
constexpr uint32_t kLqMostTimeStep = 60;
constexpr uint32_t kLqDefaultRounds = 2;
constexpr uint32_t kLqMostRounds = 10;
constexpr uint32_t kLqDefaultOpenWaits = 1;
constexpr uint32_t kLqMostOpenWaits = 60;

// The values as read (0 for one that is missing or unreadable), with 0
// replaced by its default and anything above its bound, including what a
// signed reading would take as negative, cut to the bound.
LqTimeouts LqClampTimeouts(uint32_t time, uint32_t retry, uint32_t openTimeout);
