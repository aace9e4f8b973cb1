#include "src/engine/CThroughputPeak.h"

#include <algorithm>

void CThroughputPeak::add(std::uint64_t nowMs, std::int64_t bytes) {
    if (!m_samples.empty()) {
        if (bytes < m_samples.back().bytes || nowMs < m_samples.back().ms) {
            m_samples.clear();
            m_recent = 0;
        } else if (nowMs - m_samples.back().ms < kSampleMs) {
            return;
        }
    }
    m_samples.push_back({nowMs, bytes});
    // Keep one sample at or before the window's start, none older.
    while (m_samples.size() > 2 && nowMs - m_samples[1].ms >= kWindowMs) m_samples.pop_front();
    if (const std::int64_t rate = rateOver(kWindowMs); rate >= 0) m_peak = std::max(m_peak, rate);
    if (const std::int64_t rate = rateOver(kRecentMs); rate >= 0) m_recent = rate;
}

std::int64_t CThroughputPeak::rateOver(std::uint64_t spanMs) const {
    const Sample& last = m_samples.back();
    for (auto it = m_samples.rbegin(); it != m_samples.rend(); ++it) {
        if (last.ms - it->ms >= spanMs) {
            return (last.bytes - it->bytes) * 1000 / static_cast<std::int64_t>(last.ms - it->ms);
        }
    }
    return -1;
}
