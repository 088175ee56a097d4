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
