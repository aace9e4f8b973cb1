#include "src/engine/CDownloader.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/DiskRoom.h"

CDownloader::CDownloader(std::string remoteUrl, std::string localPath, std::string taskFilePath,
                         std::int32_t threadCount, IEventReporter& reporter, const RangeTimeouts& timeouts)
    : m_remoteUrl(std::move(remoteUrl)),
      m_localPath(std::move(localPath)),
      m_taskFilePath(std::move(taskFilePath)),
      m_threadCount(threadCount),
      m_taskManager(m_remoteUrl, m_localPath, m_taskFilePath, reporter),
      m_threadManager(m_localPath, timeouts) {
    m_info.tick = platform::TickCount32();
    platform::IgnoreFileSizeSignal();
    m_driver = std::thread([this] {
        downloaderThread();
        m_driverFinished.store(true);
    });
}

CDownloader::~CDownloader() {
    if (m_driver.joinable()) {
        stopDownload();
        m_driver.join();
    }
}

errorcode CDownloader::downloadInit(bool flag, const std::string& label) {
    if (m_threadManager.createThreads(m_threadCount) == 0) {
        LOG(INFO) << " [Error]: cannot open " << m_localPath << ": " << std::strerror(m_threadManager.openErrno());
        return ERRORCODE_LOCAL_FILE;
    }
    const errorcode result = m_taskManager.loadDownloadTask(flag, label);
    if (result != ERRORCODE_OK) {
        LOG(INFO) << " [Error]: " << "error to loadDownloadTask";
        return result;
    }
    m_threadManager.setFileSize(m_taskManager.contentLength());
    m_dispatched.store(0);
    return ERRORCODE_OK;
}

errorcode CDownloader::checkRoom() const {
    return hasRoomFor(m_taskManager.contentLength()) ? ERRORCODE_OK : ERRORCODE_NO_SPACE;
}

bool CDownloader::hasRoomFor(std::int64_t size) const {
    if (size > platform::FileSizeLimit()) {
        LOG(INFO) << " [Error]: " << size << " bytes exceed this process's file-size limit of "
                  << platform::FileSizeLimit();
        return false;
    }
    std::error_code ec;
    const auto existing = std::filesystem::file_size(m_localPath, ec);
    const std::int64_t have = ec ? 0 : static_cast<std::int64_t>(existing);
    const std::int64_t available = platform::AvailableBytes(m_localPath);
    if (available >= 0 && size - have > available) {
        LOG(INFO) << " [Error]: " << size - have << " more bytes needed for " << m_localPath << ", " << available
                  << " available";
        return false;
    }
    return true;
}

int CDownloader::startDownload() {
    m_state.store(STATE_RUNNING);
    return 1;
}

int CDownloader::stopDownload() {
    m_state.store(STATE_STOPPING);
    return 1;
}

void CDownloader::waitForDriver() {
    if (m_driver.joinable()) m_driver.join();
}

DownloadInfo CDownloader::downloadInfo() const {
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_info;
}

int CDownloader::updateDownloadInfo() {
    const std::uint32_t tick = platform::TickCount32();
    const DownloadInfo current = downloadInfo();
    if (tick == current.tick) return 1;
    DownloadInfo next;
    next.tick = tick;
    next.downloaded = m_taskManager.downloadedBytes();
    next.elapsed = m_taskManager.addDownloadTime(static_cast<std::uint32_t>(tick - current.tick));
    const std::int64_t total = m_taskManager.contentLength();
    // Cut, not rounded, to two decimals.
    next.percent = total > 0 ? std::floor(static_cast<double>(next.downloaded) / static_cast<double>(total) * 10000.0) / 100.0
                             : 0.0;
    next.requestCount = m_taskManager.totalRequestTimes();
    std::lock_guard<std::mutex> lock(m_infoMutex);
    m_info = next;
    return 1;
}

void CDownloader::saveTaskFile() {
    // After a failed initialisation there are no tasks: writing them would replace a
    // task file that a later run could still resume from.
    if (m_taskManager.allTasks().empty()) return;
    m_taskManager.saveTaskInfo();
}

int CDownloader::downloaderThread() {
    double saves = 0.0;
    for (;;) {
        m_driverPasses.fetch_add(1, std::memory_order_relaxed);
        const std::int32_t state = m_state.load();
        if (state == STATE_STOPPING) {
            if (m_threadManager.hasBusyThread()) {
                m_threadManager.recycle();
                m_taskManager.requeueTasks();
                updateDownloadInfo();
                // Busy workers finish their request (within the request time-out); wait
                // for them instead of spinning.
                m_threadManager.waitForReturn(10);
                continue;
            }
            if (!m_taskManager.allTasksFinished()) {
                LOG(INFO) << " Stopping Download," << "Mission Failed";
                saveTaskFile();
            }
            m_threadManager.stopThreads();
            updateDownloadInfo();
            LOG(INFO) << " Stopping Download," << "Update DownloadInfo";
            saveTaskFile();
            LOG(INFO) << " Download Stopped\xEF\xBC\x81";
            return 1;
        }
        if (state == STATE_CREATED) {
            platform::SleepMs(1);
            continue;
        }
        if (state == STATE_RUNNING) {
            if (downloadInfo().percent / 10.0 > saves) {
                saves += 1.0;
                saveTaskFile();
            }
            if (m_taskManager.hasUnfinishedTask() || m_threadManager.hasBusyThread()) {
                m_dispatched.store(1);
                m_threadManager.recycle();
                m_taskManager.requeueTasks();
                updateDownloadInfo();
                while (m_taskManager.hasWaitingTask() && m_threadManager.hasIdleThread()) {
                    m_threadManager.dispatch(m_taskManager.getTask());
                }
                platform::SleepMs(1);
            } else {
                m_state.store(STATE_STOPPING);
                platform::SleepMs(100);
                LOG(INFO) << " Download will stop";
            }
        }
    }
}
