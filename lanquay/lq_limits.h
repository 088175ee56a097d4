// Time limits of lanquay's waits, kept free of the platform so that the
// arithmetic is tested natively.
#pragma once

#include <cstdint>

// seconds x rounds x 1000 milliseconds, computed wide and kept within
// 0..0x7FFFFFFF: odd registry or caller values can neither overflow a tick
// difference nor exceed what SetTimer and the socket time-outs accept. 0 for
// a factor of 0 or less.
uint32_t LqLimitMs(int64_t seconds, int64_t rounds);
