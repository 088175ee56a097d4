#include "lq_limits.h"

uint32_t LqLimitMs(int64_t seconds, int64_t rounds) {
  constexpr int64_t kMaxMs = 0x7FFFFFFF;
  if (seconds <= 0 || rounds <= 0) return 0;
  // Each factor alone above the cap already gives the cap; below it the
  // product stays within 64 bits.
  if (seconds > kMaxMs || rounds > kMaxMs) return static_cast<uint32_t>(kMaxMs);
  const int64_t ms = seconds * rounds;
  if (ms > kMaxMs / 1000) return static_cast<uint32_t>(kMaxMs);
  return static_cast<uint32_t>(ms * 1000);
}

uint32_t LqDeliveryHoldMs(uint64_t queuedBound, uint64_t paceBytes, uint32_t paceMs, uint32_t settleMs,
                          uint32_t limitMs) {
  // The slowest printers take about 200 KB a second. Without a measure,
  // what is queued is timed at twice that and the settle comes on top: for
  // a small buffer that is still the slowest printer's time for it, and a
  // sound close to a fast printer is not made slower than it must be.
  constexpr uint64_t kUnmeasuredBytesPerSecond = 400 * 1024;
  uint64_t hold = 0;
  if (paceBytes == 0 || paceMs == 0) {
    hold = queuedBound * 1000 / kUnmeasuredBytesPerSecond;
  } else {
    // queuedBound is far below 2^32 and paceMs below 2^32: no overflow.
    hold = queuedBound * paceMs / paceBytes;
  }
  hold += settleMs;
  if (hold > limitMs) hold = limitMs;
  if (hold < settleMs) hold = settleMs;
  return static_cast<uint32_t>(hold);
}

namespace {

uint32_t Clamp(uint32_t value, uint32_t fallback, uint32_t most) {
  if (value == 0) return fallback;
  return value > most ? most : value;
}

}  // namespace

LqTimeouts LqClampTimeouts(uint32_t time, uint32_t retry, uint32_t openTimeout) {
  return {static_cast<int32_t>(Clamp(time, kLqDefaultTimeStep, kLqMostTimeStep)),
          static_cast<int32_t>(Clamp(retry, kLqDefaultRounds, kLqMostRounds)),
          Clamp(openTimeout, kLqDefaultOpenWaits, kLqMostOpenWaits)};
}
