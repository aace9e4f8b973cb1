#include "src/telemetry/UserLogReporter.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "src/telemetry/SystemInfo.h"
#include "platform/SystemFacts.h"
#include "src/telemetry/ChannelTag.h"
#include "src/telemetry/ExportObj.h"
#include "src/telemetry/IWebLog.h"
#include "src/telemetry/ServiceEndpoints.h"
#include "src/telemetry/WebLog.h"

// Everything the sender thread needs, owned jointly by the reporter and the thread.
struct UserLogReporter::Core {
    // Fixed at construction.
    std::string propertyId;
    std::string version;
    std::string osDescription;
    std::string languagePart;
    std::string countryPart;
    std::chrono::milliseconds idleSleep{500};

    mutable std::mutex channelMutex;  // guards the three channel values and channelSet
    std::condition_variable channelChanged;
    bool holdUntilChannel = false;
    bool channelSet = false;
    int siteId = 0;
    std::string productName;
    std::string downloadUrl;

    std::timed_mutex queueLock;  // guards queue; taken with a bounded wait
    std::deque<AnalyticsEvent> queue;
    std::atomic<bool> stop{false};
    // The sender's progress, for WaitUntilSent: past its identity step, and sending one.
    std::atomic<bool> senderStarted{false};
    std::atomic<int> sending{0};

    mutable std::mutex clientMutex;  // guards the pointer, not the object
    std::shared_ptr<IWebLog> client;
    std::mutex postMutex;  // the client's poster carries one hit at a time

    std::shared_ptr<IWebLog> Client() const {
        std::lock_guard<std::mutex> hold(clientMutex);
        return client;
    }

    void Enqueue(AnalyticsEvent event) {
        if (!queueLock.try_lock_for(kQueueLockWait)) return;
        if (queue.size() < kMaxQueuedEvents) queue.push_back(std::move(event));
        queueLock.unlock();
    }

    std::string CustomDimensions() const {
        int site;
        std::string product, url;
        {
            std::lock_guard<std::mutex> hold(channelMutex);
            site = siteId;
            product = productName;
            url = downloadUrl;
        }
        for (char& c : url) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return "&cd1=" + UrlEncode(version) + "&cd2=" + UrlEncode(TrafficType(site)) +
               "&cd3=" + UrlEncode(ChannelTag(site, url)) + "&cd4=" + UrlEncode(product) +
               "&cd5=" + UrlEncode(countryPart) + "&cd6=" + UrlEncode(languagePart) +
               "&cd7=" + UrlEncode(osDescription);
    }

    int Send(IWebLog& webLog, const AnalyticsEvent& event) {
        const std::string dimensions = CustomDimensions();
        std::lock_guard<std::mutex> hold(postMutex);
        return webLog.SendAnalyticsEvent(propertyId.c_str(), "Downloader", version.c_str(), event.category.c_str(),
                                         event.action.c_str(), event.label.c_str(), dimensions.c_str());
    }
};

namespace {

struct ClientDeleter {
    void operator()(IWebLog* client) const { DestroyExportObj(client); }
};

std::string MachineVersion() {
    const std::string exe = platform::CurrentExecutablePath();
    return exe.empty() ? std::string() : FuntionImpl::GetFileVersion(exe);
}

std::string MachineOsDescription() {
    // A 64-bit process can only run on a 64-bit system; WOW64 covers 32-bit builds.
    const bool system64 = sizeof(void*) == 8 || FuntionImpl::IsWow64();
    return FuntionImpl::GetOsName() + (system64 ? " 64bit" : " 32bit");
}

}  // namespace

UserLogReporter& UserLogReporter::Instance() {
    // Deliberately never destroyed: destructors of other static objects may still report
    // while the process exits, and the sender thread is never joined.
    static UserLogReporter* const instance = [] {
        UserLogReporterOptions options;
        options.holdUntilChannel = true;
        return new UserLogReporter(std::move(options));
    }();
    return *instance;
}

IEventReporter& DefaultEventReporter() { return UserLogReporter::Instance(); }

UserLogReporter::UserLogReporter(UserLogReporterOptions options) : core_(std::make_shared<Core>()) {
    Core& core = *core_;
    core.propertyId = options.propertyId.empty() ? std::string(AnalyticsPropertyId()) : options.propertyId;
    core.version = options.version ? *options.version : MachineVersion();
    core.osDescription = options.osDescription ? *options.osDescription : MachineOsDescription();
    const std::string locale = options.localeName ? *options.localeName : FuntionImpl::GetLocaleName();
    if (const auto split = locale.find('_'); split != std::string::npos) {
        core.languagePart = locale.substr(0, split);
        core.countryPart = locale.substr(split + 1);
    } else {
        core.languagePart = "Unknown";
        core.countryPart = "Unknown";
    }
    core.idleSleep = options.idleSleep;
    core.holdUntilChannel = options.holdUntilChannel;
    IWebLog* client = options.createClient ? options.createClient() : CreateExportObj();
    if (client != nullptr) core.client = std::shared_ptr<IWebLog>(client, ClientDeleter{});

    if (options.startSender) {
        try {
            std::thread(&UserLogReporter::SenderThread, core_).detach();
        } catch (const std::system_error&) {
            // Without a sender, queued events simply wait; immediate sends still work.
        }
    }
}

UserLogReporter::~UserLogReporter() {
    {
        std::lock_guard<std::mutex> hold(core_->channelMutex);
        core_->stop = true;
    }
    core_->channelChanged.notify_all();
    std::shared_ptr<IWebLog> released;
    {
        std::lock_guard<std::mutex> hold(core_->clientMutex);
        released.swap(core_->client);
    }
    // `released` is the last owner unless a send is running; then that send's thread
    // destroys the client when it is done with it.
}

void UserLogReporter::SetChannelInfo(int siteId, const std::string& productName, const std::string& downloadUrl) {
    {
        std::lock_guard<std::mutex> hold(core_->channelMutex);
        core_->siteId = siteId;
        core_->productName = productName;
        core_->downloadUrl = downloadUrl;
        core_->channelSet = true;
    }
    core_->channelChanged.notify_all();
}

int UserLogReporter::ReportEvent(const std::string& category, const std::string& action, const std::string& label,
                                 bool immediate) {
    // From here on only the shared state is used, so a reporter destroyed while an
    // immediate send waits or runs leaves that send intact.
    std::shared_ptr<Core> core = core_;
    AnalyticsEvent event{category, action, label};
    if (!immediate) {
        core->Enqueue(std::move(event));
        return 0;
    }
    std::shared_ptr<IWebLog> client = core->Client();
    if (!client) return -1;
    return core->Send(*client, event);
}

std::string UserLogReporter::BuildCustomDimensions() const { return core_->CustomDimensions(); }

const std::string& UserLogReporter::Version() const { return core_->version; }
const std::string& UserLogReporter::OsDescription() const { return core_->osDescription; }
const std::string& UserLogReporter::LanguagePart() const { return core_->languagePart; }
const std::string& UserLogReporter::CountryPart() const { return core_->countryPart; }

void UserLogReporter::SenderThread(std::shared_ptr<Core> core) {
    // Identity first: resolves or creates the machine's user identity and refreshes the
    // service address. The outputs themselves are not needed here.
    if (std::shared_ptr<IWebLog> client = core->Client()) {
        const char* guid = nullptr;
        const char* userId = nullptr;
        for (int attempt = 0; attempt < 3 && guid == nullptr && userId == nullptr; ++attempt) {
            client->GetUserId(&guid, &userId);
        }
    }
    if (core->holdUntilChannel) {
        // A hit sent now would name no channel (cd3 "0", empty cd4), and the launch event
        // would overtake the run's "Start": wait for the configuration.
        std::unique_lock<std::mutex> hold(core->channelMutex);
        core->channelChanged.wait(hold, [&] { return core->channelSet || core->stop.load(); });
        if (!core->channelSet) return;
    }
    core->Enqueue({"DownloaderInfo00", "launchDownloader001", ""});
    core->senderStarted = true;

    for (;;) {
        if (!core->queueLock.try_lock_for(kQueueLockWait)) continue;
        if (core->queue.empty()) {
            core->queueLock.unlock();
            if (core->stop) return;
            std::this_thread::sleep_for(core->idleSleep);
            continue;
        }
        AnalyticsEvent event = std::move(core->queue.front());
        core->queue.pop_front();
        ++core->sending;
        core->queueLock.unlock();
        // Without a client (never created, or released by teardown) the event is discarded;
        // a failed hit is not retried.
        if (std::shared_ptr<IWebLog> client = core->Client()) core->Send(*client, event);
        --core->sending;
    }
}

bool UserLogReporter::WaitUntilSent(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        bool idle = false;
        if (core_->senderStarted && core_->queueLock.try_lock_for(std::chrono::milliseconds(20))) {
            // Popping and counting happen under the lock, so an empty queue with nothing
            // in flight means every event queued so far has been handed over.
            idle = core_->queue.empty() && core_->sending == 0;
            core_->queueLock.unlock();
        }
        if (idle) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
