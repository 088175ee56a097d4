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
