#pragma once
// The narrow surface through which every stage reports analytics events, so that a stage
// can be tested alone with a recording reporter. The process-wide UserLogReporter
// implements it; DefaultEventReporter() returns that instance.

#include <string>

class IEventReporter {
public:
    virtual ~IEventReporter() = default;
    // immediate=false queues the event and returns 0; immediate=true sends it on the
    // calling thread and returns the send result (0, 253, 254, 255, or -1 without a client).
    virtual int ReportEvent(const std::string& category, const std::string& action,
                            const std::string& label, bool immediate) = 0;
};

// The process-wide reporter (UserLogReporter::Instance()). Thread-safe.
IEventReporter& DefaultEventReporter();
