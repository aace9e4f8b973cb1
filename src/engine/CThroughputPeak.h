#pragma once
// The download's rate as a whole: the bytes of all workers together over the last
// kWindowMs, and the highest such rate seen in this run. When every connection passes
// one access line, that peak is the line: however the rest of the download is split
// between requests, it cannot pass faster (CEndGame weighs a split against it). The rate
// over the last kRecentMs tells whether the running requests still fill it.
//
// Threads: the driver thread owns it.

#include <cstdint>
#include <deque>

class CThroughputPeak {
public:
    static constexpr std::uint64_t kWindowMs = 1000;  // shorter windows see bursts, not the line
    static constexpr std::uint64_t kRecentMs = 250;
    static constexpr std::uint64_t kSampleMs = 50;    // samples closer than this are skipped

    // The bytes fetched in this run so far at tick `nowMs`; a count that goes back (a
    // task started afresh) starts the measure afresh.
    void add(std::uint64_t nowMs, std::int64_t bytes);
    // Bytes per second: the highest rate over a whole window so far; 0 before one was seen.
    std::int64_t peak() const { return m_peak; }
    // Bytes per second over the last kRecentMs or a little more; 0 before that long was seen.
    std::int64_t recent() const { return m_recent; }

private:
    struct Sample {
        std::uint64_t ms;
        std::int64_t bytes;
    };
    // The rate from the newest sample at least `spanMs` older than the newest one; -1: none.
    std::int64_t rateOver(std::uint64_t spanMs) const;

    std::deque<Sample> m_samples;
    std::int64_t m_peak = 0;
    std::int64_t m_recent = 0;
};
