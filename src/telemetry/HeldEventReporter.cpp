#include "src/telemetry/HeldEventReporter.h"

int HeldEventReporter::ReportEvent(const std::string& category, const std::string& action,
                                   const std::string& label, bool immediate) {
    if (!immediate) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (holding_) {
            held_.push_back({category, action, label});
            return 0;
        }
    }
    return target_.ReportEvent(category, action, label, immediate);
}

void HeldEventReporter::Release() {
    // Handed on under the lock, so an event reported meanwhile cannot overtake them.
    std::lock_guard<std::mutex> hold(mutex_);
    if (!holding_) return;
    for (const AnalyticsEvent& event : held_) target_.ReportEvent(event.category, event.action, event.label, false);
    held_.clear();
    holding_ = false;
}

bool HeldEventReporter::Holding() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return holding_;
}
