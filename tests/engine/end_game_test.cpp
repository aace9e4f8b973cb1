// Which running request gives part of its rest to an idle worker, and how much it keeps.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "src/engine/CEndGame.h"
#include "tests/engine/EngineTestSupport.h"

namespace {

using enginetest::MiB;
constexpr std::int64_t kFast = 4 * MiB;  // bytes per second
constexpr std::int64_t kSlow = MiB / 2;

// A request that has run for `ms` at `rate` and has `remaining` bytes to go.
CEndGame::Request Running(std::int64_t rate, std::int64_t ms, std::int64_t remaining) {
    CEndGame::Request r;
    r.remaining = remaining;
    r.bytes = rate * ms / 1000;
    r.sinceFirstByteMs = ms;
    r.silentMs = 0;
    return r;
}

CEndGame::Request Silent(std::int64_t ms, bool othersServed, std::int64_t remaining) {
    CEndGame::Request r;
    r.remaining = remaining;
    r.silentMs = ms;
    r.othersServed = othersServed;
    return r;
}

TEST(EndGame, SharesOutTheSlowestRequestWhenItPays) {
    struct Case {
        const char* name;
        std::vector<CEndGame::Request> requests;
        std::int64_t helperRate;
        std::optional<std::size_t> chosen;
    };
    const Case cases[] = {
        {"a straggler with a MiB to go", {Running(kFast, 500, MiB), Running(kSlow, 500, MiB)}, kFast, 1},
        {"the slower of two stragglers", {Running(kSlow, 500, MiB / 2), Running(kSlow, 500, MiB)}, kFast, 1},
        {"fast requests near their end", {Running(kFast, 500, MiB), Running(kFast, 500, MiB / 2)}, kFast, std::nullopt},
        {"a straggler whose rest is too small a piece", {Running(kSlow, 500, 100 * 1024)}, kFast, std::nullopt},
        {"a rate measured too briefly", {Running(kSlow, 50, MiB)}, kFast, std::nullopt},
        {"no helper rate known yet", {Running(kSlow, 500, MiB)}, 0, std::nullopt},
        {"a stall while others are served", {Running(kSlow, 500, MiB), Silent(2000, true, 3 * MiB)}, 0, 1},
        {"everyone silent: the server, not a connection", {Silent(5000, false, MiB)}, kFast, std::nullopt},
        {"silent, but not for long yet", {Silent(1000, true, MiB)}, kFast, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto choice = CEndGame::choose(c.requests, c.helperRate, 80);
        ASSERT_EQ(choice.has_value(), c.chosen.has_value());
        if (choice) {
            EXPECT_EQ(choice->index, *c.chosen);
        }
    }
}

// Both end together: the straggler keeps what it fetches while the helper asks for the
// rest and fetches it; a stalled request keeps nothing.
TEST(EndGame, TheSlowRequestKeepsWhatItFetchesWhileTheHelperWorks) {
    const auto straggler = CEndGame::choose({Running(kSlow, 500, MiB)}, kFast, 80);
    ASSERT_TRUE(straggler);
    const double kept = static_cast<double>(straggler->keep);
    const double helperSeconds = 0.08 + (static_cast<double>(MiB) - kept) / static_cast<double>(kFast);
    EXPECT_NEAR(kept / static_cast<double>(kSlow), helperSeconds, 0.01);
    EXPECT_GE(straggler->keep, CEndGame::kMinKeepBytes);

    const auto stalled = CEndGame::choose({Silent(4000, true, MiB)}, kFast, 80);
    ASSERT_TRUE(stalled);
    EXPECT_EQ(stalled->keep, 0);
    // A far server's first byte takes long: silence counts as a stall only after several of those.
    EXPECT_FALSE(CEndGame::choose({Silent(1800, true, MiB)}, kFast, 600));
    EXPECT_EQ(CEndGame::stallMs(600), 2400);
}

}  // namespace
