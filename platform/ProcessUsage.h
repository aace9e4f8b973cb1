#pragma once
// Resource use of the current process (all its threads), for tools and for tests that
// check that waiting code does not burn the processor.

#include <cstdint>

namespace platform {

double ProcessCpuSeconds();          // user + system time so far
std::int64_t ProcessPeakRssKiB();    // high-water mark of the resident set

}  // namespace platform
