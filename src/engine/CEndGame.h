#pragma once
// The end of a download: once no task waits and a worker is idle, the slowest running
// request gives part of its rest to the idle worker. This class only decides which
// request, and how many of its remaining bytes it keeps; the driver cuts the request and
// the task (CDownloader).
//
// A request keeps what it would fetch in the time the helper needs to ask for and fetch
// the rest, so that both end together. It gives nothing when that gains too little (a
// fast request near its end, a piece too small to be worth a request, a line that is
// the limit anyway), and everything when it has been silent for long while other workers
// were served (a stall).
//
// On a shared access line a request looks slow only because the others share the line
// with it: while they fill the line it speeds up as they end, and no split makes the line
// carry the rest sooner, while each cut costs the bytes the server had already sent past
// it. So a split is weighed against the time the line needs for all the running requests'
// rest at the best rate the download reached, and a request that gets at least half its
// share of a full line counts as fast as the fastest running request.
//
// Threads: stateless; the driver thread calls it.

#include <cstdint>
#include <optional>
#include <vector>

class CEndGame {
public:
    static constexpr std::int64_t kMinPieceBytes = 128 * 1024;  // the least a helper is handed
    static constexpr std::int64_t kMinKeepBytes = 64 * 1024;    // a request keeps nothing or this much
    static constexpr std::int64_t kMinGainMs = 200;             // a split must end the download this much sooner
    static constexpr std::int64_t kMinSampleMs = 100;           // a rate measured over less says nothing
    static constexpr std::int64_t kStallMs = 1500;              // silence that makes a request stalled (at least)
    static constexpr std::int64_t kDefaultLatencyMs = 100;      // request to first byte, before any was seen
    static constexpr std::int64_t kRecentSpanMs = 250;          // the span a request's recent rate is taken over
    static constexpr double kFullLine = 0.8;  // a download at this part of its line's rate fills it
    static constexpr double kFairShare = 0.5; // a request at this part of its share or more only shares the line

    // One running request, as the driver sees it.
    struct Request {
        std::int64_t remaining = 0;          // bytes it has still to fetch
        std::int64_t bytes = 0;              // bytes it wrote so far
        std::int64_t sinceFirstByteMs = -1;  // -1: no byte yet
        std::int64_t recentRate = -1;        // bytes per second over its latest whole span of kRecentSpanMs,
                                             // which ended with a byte (-1: unknown; then bytes / time)
        std::int64_t silentMs = 0;           // since its last byte, or since it was sent
        bool othersServed = false;           // another worker got bytes while this one was silent
    };
    struct Choice {
        std::size_t index = 0;   // of the request that gives up bytes
        std::int64_t keep = 0;   // of its remaining bytes, the ones it keeps
    };

    // The download as a whole, in bytes per second (CThroughputPeak); 0: not known yet,
    // and no line is assumed.
    struct Line {
        std::int64_t peak;  // its best rate: the line
        std::int64_t now;   // its rate lately
    };

    // helperRate: bytes per second a helper is expected to fetch at (<= 0: unknown);
    // latencyMs: from sending a request to its first byte.
    static std::optional<Choice> choose(const std::vector<Request>& requests, std::int64_t helperRate,
                                        std::int64_t latencyMs, const Line& line = Line{0, 0});
    // Silence after which a request counts as stalled, for a given latency.
    static std::int64_t stallMs(std::int64_t latencyMs);
    // The median of the known (> 0, or >= 0 with `zeroKnown`) values; `fallback` when none.
    static std::int64_t median(std::vector<std::int64_t> values, std::int64_t fallback, bool zeroKnown = false);
};
