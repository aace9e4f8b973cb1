// Holding the window's events back until the run's launch events are queued.

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/RecordingReporter.h"
#include "src/telemetry/HeldEventReporter.h"

namespace {

using qvtest::RecordedEvent;

TEST(HeldEventReporterTest, HoldsQueuedEventsUntilReleasedThenPassesEverythingThrough) {
    qvtest::RecordingReporter target;
    HeldEventReporter held(target);
    held.ReportEvent("DownloaderInfo00", "Country", "China", false);
    held.ReportEvent("DownloaderInfo00", "ClickInstall001", "", false);
    // An event that ends the process cannot wait.
    held.ReportEvent("CrashRate", "Close", "", true);
    EXPECT_EQ(target.Take(), (std::vector<RecordedEvent>{{"CrashRate", "Close", "", true}}));

    target.ReportEvent("CrashRate", "Start", "", false);
    held.Release();
    held.ReportEvent("Download", "2.DownStart", "", false);
    held.Release();  // a second release changes nothing
    EXPECT_FALSE(held.Holding());
    EXPECT_EQ(target.Take(), (std::vector<RecordedEvent>{{"CrashRate", "Start", "", false},
                                                         {"DownloaderInfo00", "Country", "China", false},
                                                         {"DownloaderInfo00", "ClickInstall001", "", false},
                                                         {"Download", "2.DownStart", "", false}}));
}

}  // namespace
