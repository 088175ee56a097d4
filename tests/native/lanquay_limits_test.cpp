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

// The close's hold: the rest at the printer's pace, between the settle and the limit.
TEST(LanquayLimits, DeliveryHoldFollowsThePrintersPace) {
  const struct {
    uint64_t queued, paceBytes;
    uint32_t paceMs, ms;
  } cases[] = {
      {80 * 1024, 150 * 1024, 1000, 573},  // 150 KB/s: about half a second, plus the settle
      {80 * 1024, 50 << 20, 1000, 41},     // a fast reader: the settle alone
      {16 * 1024, 0, 0, 80},               // never refused data: no pace measured
      {80 * 1024, 1024, 1000, 8000},       // a trickle: no longer than the time limit
      {0, 0, 0, 40},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LqDeliveryHoldMs(c.queued, c.paceBytes, c.paceMs, 40, 8000), c.ms) << c.queued << " at " << c.paceBytes;
  }
}

// 0 takes the default; above the bound (also "negative" values) is cut to the bound.
TEST(LanquayLimits, RegistryTimeoutsTakeDefaultsAndBounds) {
  const uint32_t cases[][6] = {{0, 0, 0, 4, 2, 1},        {60, 10, 60, 60, 10, 60},
                               {61, 11, 61, 60, 10, 60}, {0xFFFFFFFFu, 0x80000000u, 86400, 60, 10, 60}};
  for (const auto& c : cases) {
    const LqTimeouts got = LqClampTimeouts(c[0], c[1], c[2]);
    EXPECT_EQ(static_cast<uint32_t>(got.timeStep), c[3]) << "TIME " << c[0];
    EXPECT_EQ(static_cast<uint32_t>(got.rounds), c[4]) << "RETRY " << c[1];
    EXPECT_EQ(got.openWaits, c[5]) << "OPEN_TIMEOUT " << c[2];
  }
}
