#pragma once
// Tick counts and sleeping. Ticks are CLOCK_MONOTONIC milliseconds, unaffected by changes
// of the wall clock.

#include <cstdint>

namespace platform {

std::uint64_t TickCount64();                                        // ms since an arbitrary start
inline std::uint32_t TickCount32() { return static_cast<std::uint32_t>(TickCount64()); }  // wraps after ~49.7 days
void SleepMs(std::uint32_t milliseconds);

}  // namespace platform
