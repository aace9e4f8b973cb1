#pragma once
// Decides when a download has stalled: when, for a whole limit period, it gained less
// than a floor rate's worth of bytes. "No byte at all" is the plain case; a server that
// trickles a few bytes per request is the other, and it would otherwise keep a download
// (and an unattended install) alive for ever.
//
// Threads: one watcher per watch loop; not shared.

#include <cstdint>

class CStallWatch {
public:
    static constexpr std::uint32_t kDefaultLimitMs = 30000;
    static constexpr std::int64_t kDefaultFloorBytesPerSecond = 1024;

    // `tick` and `bytes` are the first observation (tick in milliseconds, 32-bit wrapping).
    CStallWatch(std::uint32_t limitMs, std::int64_t floorBytesPerSecond, std::uint32_t tick, std::int64_t bytes);

    // Feeds one observation; true once less than the floor's worth arrived within the
    // last limit period.
    bool stalled(std::uint32_t tick, std::int64_t bytes);

    std::uint32_t limitMs() const { return m_limitMs; }

private:
    std::uint32_t m_limitMs;
    std::int64_t m_neededBytes;  // what one limit period must bring (at least one byte)
    std::uint32_t m_markTick;
    std::int64_t m_markBytes;
};
