#include <gtest/gtest.h>

#include <cstdint>

#include "lq_limits.h"

// TIME x RETRY x 1000 for every wait: products that overflow 32 or 64 bits
// are capped, never wrapped to a short or negative limit.
TEST(LanquayLimits, ProductsAreClampedNotWrapped) {
  const struct {
    int64_t seconds;
    int64_t rounds;
    uint32_t ms;
  } cases[] = {
      {4, 2, 8000},
      {1, 1, 1000},
      {0, 5, 0},
      {-1, 2, 0},
      {5, -3, 0},
      {4294968, 1, 0x7FFFFFFFu},  // 32-bit arithmetic wraps this to 704 ms
      {2147483, 1, 2147483000u},
      {2147484, 1, 0x7FFFFFFFu},
      {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFFu},  // 64-bit arithmetic overflows
      {INT64_MAX, INT64_MAX, 0x7FFFFFFFu},
      {65536, 65536, 0x7FFFFFFFu},
  };
  for (const auto& c : cases) EXPECT_EQ(LqLimitMs(c.seconds, c.rounds), c.ms) << c.seconds << " x " << c.rounds;
}
