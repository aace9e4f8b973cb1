#include "src/engine/CStallWatch.h"

#include <algorithm>

CStallWatch::CStallWatch(std::uint32_t limitMs, std::int64_t floorBytesPerSecond, std::uint32_t tick,
                         std::int64_t bytes)
    : m_limitMs(limitMs),
      m_neededBytes(std::max<std::int64_t>(1, floorBytesPerSecond * static_cast<std::int64_t>(limitMs) / 1000)),
      m_markTick(tick),
      m_markBytes(bytes) {}

bool CStallWatch::stalled(std::uint32_t tick, std::int64_t bytes) {
    // Only a gain of a period's worth starts the next period; a count that goes back (a
    // range taken back by a byte) restarts nothing, so a server that keeps giving and
    // taking back the same bytes still stalls.
    if (bytes - m_markBytes >= m_neededBytes) {
        m_markTick = tick;
        m_markBytes = bytes;
        return false;
    }
    // Read as signed: an observation made just before the mark counts as no time.
    const std::int32_t since = static_cast<std::int32_t>(tick - m_markTick);
    return since >= 0 && static_cast<std::uint32_t>(since) >= m_limitMs;
}
