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

std::optional<CEndGame::Choice> CEndGame::choose(const std::vector<Request>& requests, std::int64_t helperRate,
                                                 std::int64_t latencyMs) {
    constexpr double kNever = std::numeric_limits<double>::infinity();
    const double latency = static_cast<double>(std::max<std::int64_t>(0, latencyMs)) / 1000.0;
    const double helper = static_cast<double>(helperRate);
    std::optional<Choice> best;
    double bestSeconds = -1.0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        if (r.remaining <= 0) continue;
        double seconds = 0.0;  // what the request still needs on its own
        std::int64_t keep = 0;
        if (r.silentMs >= stallMs(latencyMs) && r.othersServed) {
            // Silent while others are served: its connection is the trouble, not the server.
            seconds = kNever;
        } else {
            if (r.sinceFirstByteMs < kMinSampleMs || r.bytes <= 0 || helper <= 0.0) continue;
            const double rate = static_cast<double>(r.bytes) * 1000.0 / static_cast<double>(r.sinceFirstByteMs);
            const double remaining = static_cast<double>(r.remaining);
            seconds = remaining / rate;
            // Both end together: kept / rate == latency + (remaining - kept) / helper.
            const double kept = std::clamp((latency * helper + remaining) * rate / (rate + helper), 0.0, remaining);
            keep = static_cast<std::int64_t>(kept);
            if (keep < kMinKeepBytes) keep = 0;
            const std::int64_t piece = r.remaining - keep;
            if (piece < kMinPieceBytes) continue;
            const double after = std::max(static_cast<double>(keep) / rate, latency + static_cast<double>(piece) / helper);
            if ((seconds - after) * 1000.0 < static_cast<double>(kMinGainMs)) continue;
        }
        if (seconds > bestSeconds) {
            bestSeconds = seconds;
            best = Choice{i, keep};
        }
    }
    return best;
}
