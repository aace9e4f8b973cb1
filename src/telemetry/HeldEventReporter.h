#pragma once
// An event reporter that keeps queued events back until Release, then hands them on in
// the order they were reported and passes everything through from then on. The wizard
// reports through one while its configuration is still on its way: the run's own launch
// events must reach the collector first, and whatever the user did meanwhile after them.
//
// Immediate events are never held: they belong to paths that end the process.
//
// Threads: any thread may report; Release may be called from any thread, once matters.

#include <mutex>
#include <string>
#include <vector>

#include "src/telemetry/IEventReporter.h"
#include "src/telemetry/UserLogReporter.h"

class HeldEventReporter final : public IEventReporter {
public:
    // `target` must outlive this reporter.
    explicit HeldEventReporter(IEventReporter& target) : target_(target) {}

    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override;

    // Hands the held events on, in order, and stops holding.
    void Release();
    bool Holding() const;

private:
    IEventReporter& target_;
    mutable std::mutex mutex_;
    bool holding_ = true;               // under mutex_
    std::vector<AnalyticsEvent> held_;  // under mutex_
};
