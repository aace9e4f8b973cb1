// Which running request gives part of its rest to an idle worker, and how much it keeps.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "src/engine/CEndGame.h"
#include "src/engine/CThroughputPeak.h"
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

// The same, measured lately at `recentRate` (on a shared line: since others ended).
CEndGame::Request Lately(std::int64_t recentRate, std::int64_t ms, std::int64_t remaining) {
    CEndGame::Request r = Running(recentRate, ms, remaining);
    r.recentRate = recentRate;
    return r;
}

CEndGame::Request Young(std::int64_t remaining) {
    CEndGame::Request r;
    r.remaining = remaining;
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

// One access line shared by every connection: nine requests fill it at about 2.5 MB/s
// each, and a worker is idle. Cutting the request with the most to go makes the line
// carry nothing sooner (the others speed up as they end), and throws away what the server
// had already sent past the cut; so it is left whole. As the line empties, or for a
// request slow on its own connection, a split is made as without a line.
TEST(EndGame, OnAFullSharedLineNoRequestIsCut) {
    constexpr std::int64_t kLine = 21'200'000;
    // Figures of a real run on a 20 MiB/s line (2.7 s in), where a cut used to be made.
    const std::vector<CEndGame::Request> sharing = {
        Lately(1'770'111, 1000, 765'229),   Lately(2'427'259, 1000, 12'589),
        Lately(2'462'627, 1000, 2'359'597), Running(4'670'392, 150, 1'966'381),
        Young(2 * MiB),                     Lately(2'490'718, 1000, 2'425'133),
        Young(2 * MiB),                     Lately(2'463'759, 1000, 84'269),
        Running(2'691'401, 200, 2'556'311),
    };
    const std::int64_t helper = 2'310'000;
    // Without the line known, a request is cut: the choice as it always was.
    EXPECT_TRUE(CEndGame::choose(sharing, helper, 107));

    struct Case {
        const char* name;
        std::vector<CEndGame::Request> requests;
        CEndGame::Line line;
        std::optional<std::size_t> chosen;
    };
    const Case cases[] = {
        {"requests sharing a full line", sharing, {kLine, 20'800'000}, std::nullopt},
        // Rates over the last quarter second still show the share of when nine ran.
        {"six requests left on a full line, their rates lagging behind",
         {Lately(2'453'404, 1000, 1'245'485), Lately(2'471'520, 1000, 1'376'663), Running(4'084'937, 150, 1'966'434),
          Lately(2'453'205, 1000, 1'245'538), Lately(2'580'157, 1000, 1'638'807), Lately(2'860'698, 1000, 1'114'413)},
         {kLine, 20'900'000}, std::nullopt},
        {"the line no longer full: two requests left, one with much to go",
         {Lately(4 * MiB, 1000, 3 * MiB), Lately(4 * MiB, 1000, MiB / 4)}, {kLine, 8 * MiB}, 0},
        {"a straggler on a full line: slow on its own connection",
         {Lately(kFast, 1000, MiB / 2), Lately(kFast, 1000, MiB / 2), Lately(kFast, 1000, MiB / 2),
          Lately(kFast, 1000, MiB / 2), Lately(kSlow, 1000, MiB)},
         {30'000'000, 28'000'000}, 4},
        {"a far bigger rest than the line needs for all the others",
         {Lately(2 * MiB, 1000, 6 * MiB), Lately(2 * MiB, 1000, MiB / 4), Lately(2 * MiB, 1000, MiB / 4)},
         {6 * MiB, 6 * MiB}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto choice = CEndGame::choose(c.requests, helper, 107, c.line);
        ASSERT_EQ(choice.has_value(), c.chosen.has_value());
        if (choice) {
            EXPECT_EQ(choice->index, *c.chosen);
        }
    }
}

// A request that has heard nothing for seconds is no longer as fast as its last span of
// bytes said, even with no one else served meanwhile (the last request left): it is cut,
// with a line known or not.
TEST(EndGame, ARequestSilentSinceItsLastSpanIsCutAsItsRateFalls) {
    CEndGame::Request r;
    r.remaining = MiB;
    r.bytes = 3'000'000;
    r.sinceFirstByteMs = 1200 + 3000;  // 1.2 s at 2.5 MB/s, then 3 s of silence
    r.silentMs = 3000;
    r.othersServed = false;
    r.recentRate = 2'500'000;
    EXPECT_TRUE(CEndGame::choose({r}, 2'500'000, 100, {20'000'000, 0}));
    EXPECT_TRUE(CEndGame::choose({r}, 2'500'000, 100));
}

// The download's rate as a whole: its best whole window is the line, however briefly it
// burst; the recent rate follows the last quarter second.
TEST(EndGame, ThroughputPeakIsTheBestWholeWindow) {
    CThroughputPeak peak;
    std::int64_t bytes = 0;
    std::uint64_t ms = 1000;
    const auto run = [&](std::int64_t bytesPerSecond, std::uint64_t forMs) {
        for (std::uint64_t t = 0; t < forMs; t += 10) {
            ms += 10;
            bytes += bytesPerSecond / 100;
            peak.add(ms, bytes);
        }
    };
    run(20'000'000, 900);
    EXPECT_EQ(peak.peak(), 0) << "no whole window yet";
    EXPECT_NEAR(static_cast<double>(peak.recent()), 20e6, 1e6);
    run(20'000'000, 1100);
    EXPECT_NEAR(static_cast<double>(peak.peak()), 20e6, 1e6);
    // A burst of 100 ms at twice the rate lifts a whole window by a tenth at most.
    run(40'000'000, 100);
    run(20'000'000, 1000);
    EXPECT_NEAR(static_cast<double>(peak.peak()), 22e6, 1e6);
    // The line empties: the peak stays, the recent rate falls.
    run(5'000'000, 500);
    EXPECT_NEAR(static_cast<double>(peak.peak()), 22e6, 1e6);
    EXPECT_NEAR(static_cast<double>(peak.recent()), 5e6, 1e6);
    // A count that goes back starts the recent rate afresh.
    peak.add(ms + 10, 0);
    EXPECT_EQ(peak.recent(), 0);
}

}  // namespace
