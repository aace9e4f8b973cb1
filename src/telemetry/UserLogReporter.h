#pragma once
// The process-wide analytics sink. Callers hand it a category, an action and a label; the
// event is queued for the sender thread or, on paths that end the process, sent at once on
// the caller's thread. Every hit carries seven custom dimensions describing the build, its
// distribution channel, the product, the user's locale and the operating system.
//
// Threads: ReportEvent and SetChannelInfo may be called from any thread. A queued report
// waits at most kQueueLockWait for the queue and never touches the network. The sender
// thread is the only consumer; hits go out one at a time (immediate sends wait for the
// sender's current hit). A reporter made with holdUntilChannel sends nothing queued until
// the channel is known.
//
// Lifetime: the sender thread shares ownership of the queue and the client with the
// reporter, so destroying a reporter never pulls the client from under a send in
// progress. Destruction sets the stop flag and lets go of the client; the thread ends by
// itself once the queue is empty (events still queued then are discarded). The
// process-wide Instance() is never destroyed at all: other objects' destructors may still
// report during exit.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "src/telemetry/IEventReporter.h"

class IWebLog;

struct AnalyticsEvent {
    std::string category;  // "ec"
    std::string action;    // "ea"
    std::string label;     // "el", may be empty
};

struct UserLogReporterOptions {
    // Creates the client; the reporter destroys it with DestroyExportObj. Default CreateExportObj.
    std::function<IWebLog*()> createClient;
    std::string propertyId;  // default: the build's analytics property id
    // Facts of this machine; unset = read from the system (tests pin them).
    std::optional<std::string> version;
    std::optional<std::string> osDescription;
    std::optional<std::string> localeName;
    std::chrono::milliseconds idleSleep{500};  // sender's pause while the queue is empty
    bool startSender = true;                   // false: immediate sends only (command-line tools)
    // The sender waits for SetChannelInfo before it queues its launch event and sends
    // anything, so that no hit goes out without the channel's dimensions. The process-wide
    // reporter does; a program that never learns its channel must leave it off.
    bool holdUntilChannel = false;
};

class UserLogReporter final : public IEventReporter {
public:
    static constexpr std::chrono::milliseconds kQueueLockWait{200};
    // More waiting events than this means the sender cannot keep up; further ones are dropped.
    static constexpr std::size_t kMaxQueuedEvents = 10000;

    // The process-wide reporter, created on first use.
    static UserLogReporter& Instance();

    explicit UserLogReporter(UserLogReporterOptions options = {});
    ~UserLogReporter() override;
    UserLogReporter(const UserLogReporter&) = delete;
    UserLogReporter& operator=(const UserLogReporter&) = delete;

    // Site id, product name (UTF-8) and download URL for dimensions 2 to 4. With
    // holdUntilChannel, the first call also lets the sender start: whatever was queued
    // before it goes out first, then the sender's launch event.
    void SetChannelInfo(int siteId, const std::string& productName, const std::string& downloadUrl);

    // Queued (immediate=false): 0, also when the event had to be dropped. Immediate: the
    // client's result (0, 253, 254, 255), or -1 without a client.
    int ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                    bool immediate) override;

    // Waits, at most `limit`, until every event queued so far has been handed to the
    // collector (sent or failed). For a program that ends right after its last event, such
    // as the unattended install. False when events were still waiting at the limit (or
    // there is no sender thread).
    bool WaitUntilSent(std::chrono::milliseconds limit);

    // "&cd1=...&cd7=..." for the next hit, values percent-encoded.
    std::string BuildCustomDimensions() const;

    const std::string& Version() const;
    const std::string& OsDescription() const;
    const std::string& LanguagePart() const;
    const std::string& CountryPart() const;

private:
    struct Core;
    static void SenderThread(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
};
