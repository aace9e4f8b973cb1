#include "src/config/CConfigurationLoader.h"

#include <system_error>
#include <thread>
#include <utility>

#include "src/config/CConfigure.h"
#include "platform/ProcessLogger.h"

CConfigurationLoader::~CConfigurationLoader() = default;

std::shared_ptr<CConfigurationLoader> CConfigurationLoader::Start(int downloaderId, int languageId, int siteId,
                                                                  std::function<void()> done) {
    auto loader = std::make_shared<CConfigurationLoader>();
    auto run = [loader, downloaderId, languageId, siteId, done = std::move(done)] {
        auto configure = std::make_unique<CConfigure>(downloaderId, languageId, siteId);
        configure->loadFromService();
        {
            std::lock_guard<std::mutex> hold(loader->mutex_);
            loader->result_ = std::move(configure);
            loader->finished_ = true;
        }
        loader->finishedChanged_.notify_all();
        if (done) done();
    };
    try {
        std::thread(std::move(run)).detach();
    } catch (const std::system_error& error) {
        // No thread: the service is not asked, and the caller settles on the skin's labels.
        LOG(INFO) << " Configuration query not started: " << error.what();
        {
            std::lock_guard<std::mutex> hold(loader->mutex_);
            loader->result_ = std::make_unique<CConfigure>(downloaderId, languageId, siteId);
            loader->finished_ = true;
        }
        if (done) done();
    }
    return loader;
}

bool CConfigurationLoader::Finished() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return finished_;
}

bool CConfigurationLoader::WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return finishedChanged_.wait_for(hold, limit, [&] { return finished_; });
}

std::unique_ptr<CConfigure> CConfigurationLoader::Take() {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::move(result_);
}
