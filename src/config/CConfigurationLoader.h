#pragma once
// Asks the maker's web service for the product configuration on a thread of its own, so
// that neither the wizard's window nor the unattended install depends on how long the
// service takes. The caller decides how long it waits; a service that has not answered by
// then is simply no longer listened to.
//
// Threads: Start runs the queries on a new thread, which is never joined; `done` runs on
// that thread when they have ended, whatever their outcome. Every other method may be
// called from any thread. The loader is shared by the thread and its caller, so a caller
// that stops listening leaves the thread nothing to trip over.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class CConfigure;

class CConfigurationLoader {
public:
    // Starts the service's attempts for these identifiers (as the skin's labels give them).
    static std::shared_ptr<CConfigurationLoader> Start(int downloaderId, int languageId, int siteId,
                                                      std::function<void()> done = {});

    // True once the attempts have ended.
    bool Finished() const;
    // Waits until the attempts have ended or `limit` has passed; Finished().
    bool WaitFor(std::chrono::milliseconds limit);
    // The configuration, once, after the attempts ended: loaded from the service when it
    // answered, else not loaded (its identifiers are set; the caller falls back to the
    // skin). Null before the end and after the first call.
    std::unique_ptr<CConfigure> Take();

    // The longest the wizard and the unattended install wait for the service before they
    // use the configuration the skin carries.
    static constexpr std::chrono::milliseconds kSettleLimit{10000};

    CConfigurationLoader() = default;
    ~CConfigurationLoader();
    CConfigurationLoader(const CConfigurationLoader&) = delete;
    CConfigurationLoader& operator=(const CConfigurationLoader&) = delete;

private:
    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;                // under mutex_
    std::unique_ptr<CConfigure> result_;  // under mutex_
};
