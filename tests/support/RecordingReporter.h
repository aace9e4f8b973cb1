#pragma once
// An analytics reporter for tests: it keeps every event it is given, from any thread,
// and sends nothing.

#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "src/telemetry/IEventReporter.h"

namespace qvtest {

struct RecordedEvent {
    std::string category, action, label;
    bool immediate = false;
    bool operator==(const RecordedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RecordedEvent& e) {
    return out << e.category << "/" << e.action << "/" << e.label << (e.immediate ? " (at once)" : "");
}

class RecordingReporter : public IEventReporter {
public:
    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back({category, action, label, immediate});
        return 0;
    }
    // The events so far, oldest first.
    std::vector<RecordedEvent> events() const {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    // The events so far, which are then forgotten.
    std::vector<RecordedEvent> Take() {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(events_, {});
    }

private:
    mutable std::mutex lock_;
    std::vector<RecordedEvent> events_;
};

}  // namespace qvtest
