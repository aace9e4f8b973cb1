#include "src/engine/CEndGame.h"

#include <algorithm>
#include <limits>

std::int64_t CEndGame::stallMs(std::int64_t latencyMs) { return std::max(kStallMs, 4 * latencyMs); }

std::int64_t CEndGame::median(std::vector<std::int64_t> values, std::int64_t fallback, bool zeroKnown) {
    values.erase(std::remove_if(values.begin(), values.end(),
                                [zeroKnown](std::int64_t v) { return zeroKnown ? v < 0 : v <= 0; }),
                 values.end());
    if (values.empty()) return fallback;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

namespace {

// A request's rate lately, or since its first byte when it has not run long enough to tell;
// 0 when it has no sample worth the name.
double RateOf(const CEndGame::Request& r) {
    if (r.sinceFirstByteMs < CEndGame::kMinSampleMs || r.bytes <= 0) return 0.0;
    if (r.recentRate > 0) {
        // The span ended with a byte. Silence since then, beyond the gaps between chunks
        // that a span holds anyway, counts as a span that long with no bytes: a request
        // that stopped hearing anything is not as fast as its last bytes came.
        const double quiet = static_cast<double>(std::max<std::int64_t>(0, r.silentMs - CEndGame::kRecentSpanMs));
        const double span = static_cast<double>(CEndGame::kRecentSpanMs);
        return static_cast<double>(r.recentRate) * span / (span + quiet);
    }
    return static_cast<double>(r.bytes) * 1000.0 / static_cast<double>(r.sinceFirstByteMs);
}

}  // namespace

std::optional<CEndGame::Choice> CEndGame::choose(const std::vector<Request>& requests, std::int64_t helperRate,
                                                 std::int64_t latencyMs, const Line& line) {
    constexpr double kNever = std::numeric_limits<double>::infinity();
    const double latency = static_cast<double>(std::max<std::int64_t>(0, latencyMs)) / 1000.0;
    const double helper = static_cast<double>(helperRate);
    const double lineRate = static_cast<double>(std::max<std::int64_t>(0, line.peak));
    // No split ends the download before the line has carried every running request's rest.
    double lineSeconds = 0.0;
    double fastest = 0.0;  // the fastest running request: what a connection gets here now
    std::size_t running = 0;
    for (const Request& r : requests) {
        if (r.remaining <= 0) continue;
        ++running;
        lineSeconds += static_cast<double>(r.remaining);
        fastest = std::max(fastest, RateOf(r));
    }
    lineSeconds = lineRate > 0.0 ? lineSeconds / lineRate : 0.0;
    // The running requests fill the line: each gets a share, and gets more as others end.
    const bool lineFull = lineRate > 0.0 && static_cast<double>(line.now) >= kFullLine * lineRate;
    const double fairShare = running > 0 ? lineRate / static_cast<double>(running) : 0.0;
    std::optional<Choice> best;
    double bestSeconds = -1.0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        if (r.remaining <= 0) continue;
        double seconds = 0.0;  // until the download could end, with this request left whole
        std::int64_t keep = 0;
        if (r.silentMs >= stallMs(latencyMs) && r.othersServed) {
            // Silent while others are served: its connection is the trouble, not the server.
            seconds = kNever;
        } else {
            const double rate = RateOf(r);
            if (rate <= 0.0 || helper <= 0.0) continue;
            // A request slow only because it shares a full line speeds up as the others end,
            // to what the fastest gets now; one far below its share is slow on its own.
            const double alone = lineFull && rate >= kFairShare * fairShare ? std::max(rate, fastest) : rate;
            const double remaining = static_cast<double>(r.remaining);
            seconds = std::max(remaining / alone, lineSeconds);
            // Both end together: kept / rate == latency + (remaining - kept) / helper.
            const double kept = std::clamp((latency * helper + remaining) * rate / (rate + helper), 0.0, remaining);
            keep = static_cast<std::int64_t>(kept);
            if (keep < kMinKeepBytes) keep = 0;
            const std::int64_t piece = r.remaining - keep;
            if (piece < kMinPieceBytes) continue;
            const double after = std::max({static_cast<double>(keep) / rate,
                                           latency + static_cast<double>(piece) / helper, lineSeconds});
            if ((seconds - after) * 1000.0 < static_cast<double>(kMinGainMs)) continue;
        }
        if (seconds > bestSeconds) {
            bestSeconds = seconds;
            best = Choice{i, keep};
        }
    }
    return best;
}
