#pragma once
// A progress sink that records what the download layer showed.

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "src/engine/IDownloadProgress.h"

namespace orchestrationtest {

class RecordingProgress : public IDownloadProgress {
public:
    void ShowDownloadProgress(std::int64_t done, std::int64_t total) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_download.emplace_back(done, total);
    }
    void ShowSelectionProgress(double percent) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_selection.push_back(percent);
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> download() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_download;
    }
    std::vector<double> selection() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_selection;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::int64_t, std::int64_t>> m_download;
    std::vector<double> m_selection;
};

}  // namespace orchestrationtest
