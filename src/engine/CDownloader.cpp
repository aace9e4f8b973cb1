#include "src/engine/CDownloader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>
#include <filesystem>

#include "src/engine/CDownloadThread.h"
#include "src/engine/CEndGame.h"
#include "platform/ProcessLogger.h"
#include "platform/Clock.h"
#include "platform/DiskRoom.h"
#include "platform/FileStreams.h"

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
        {
            std::lock_guard<std::mutex> lock(m_finishMutex);
            m_driverFinished.store(true);
        }
        m_finished.notify_all();
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
    if (m_earlyRequests && !platform::RegularFileExists(m_taskFilePath) &&
        m_threadManager.sendEarly(m_remoteUrl, static_cast<std::int64_t>(kFirstRunTasks) * DownloadTask::kSize) > 0) {
        m_earlyPending.store(true);
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

bool CDownloader::waitForDriverFor(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(m_finishMutex);
    return m_finished.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_driverFinished.load(); });
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
    next.written = m_taskManager.writtenBytes();
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
            if (m_earlyPending.exchange(false)) settleEarly(false);
            if (m_threadManager.hasBusyThread()) {
                stopRequests();
                m_threadManager.recycle();
                m_taskManager.requeueTasks();
                updateDownloadInfo();
                // Busy workers end their requests where their bytes stand (at the next
                // chunk, or within a second when none comes); wait for them instead of spinning.
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
            if (m_earlyPending.exchange(false)) settleEarly(true);
            if (downloadInfo().percent / 10.0 > saves) {
                saves += 1.0;
                saveTaskFile();
            }
            if (m_taskManager.hasUnfinishedTask() || m_threadManager.hasBusyThread()) {
                m_dispatched.store(1);
                m_threadManager.recycle();
                m_taskManager.requeueTasks();
                updateDownloadInfo();
                m_throughput.add(platform::TickCount64(), downloadInfo().written);
                dispatchWaiting();
                while (!m_taskManager.hasWaitingTask() && m_threadManager.hasIdleThread() && shareOutSlowest()) {
                    dispatchWaiting();
                }
                platform::SleepMs(1);
            } else {
                // Every byte is in: the next pass stops the workers and saves at once.
                m_state.store(STATE_STOPPING);
                LOG(INFO) << " Download will stop";
            }
        }
    }
}

void CDownloader::dispatchWaiting() {
    if (!m_taskManager.hasWaitingTask() || !m_threadManager.hasIdleThread()) return;
    // Each idle worker takes its share of all that is left, what runs included, so that
    // the workers end together: a worker back early does not take what another worker,
    // back a moment later, would have fetched alongside it.
    const std::int64_t fileLast = m_taskManager.contentLength() - 1;
    std::int64_t left = m_taskManager.waitingBytes();
    for (const CDownloadThread* worker : m_threadManager.workers()) {
        const CDownloadThread::Transfer t = worker->transfer();
        if (t.busy) left += std::max<std::int64_t>(0, std::min(t.stop, fileLast) - t.nextByte + 1);
    }
    const std::size_t shareTasks = CDownloader::shareTasks(left, m_threadManager.workers().size());
    while (m_taskManager.hasWaitingTask() && m_threadManager.hasIdleThread()) {
        const CDownloadThread* worker = m_threadManager.nextIdleWorker();
        const std::size_t length = std::max<std::size_t>(1, std::min(shareTasks, runLength(*worker)));
        std::vector<DownloadTask*> run = m_taskManager.getRun(length);
        if (run.empty()) break;
        m_threadManager.dispatchRun(std::move(run));
    }
}

std::size_t CDownloader::shareTasks(std::int64_t leftBytes, std::size_t workers) {
    const std::int64_t share = std::max<std::int64_t>(0, leftBytes) / static_cast<std::int64_t>(std::max<std::size_t>(1, workers));
    // Rounded up: rounded to the nearest, the few tasks left over would make one more
    // round of requests for some workers at the end, a whole round trip while the others
    // idle; rounded up, the last round ends at most one task later than an even split.
    return static_cast<std::size_t>(std::max<std::int64_t>(1, (share + DownloadTask::kSize - 1) / DownloadTask::kSize));
}

std::size_t CDownloader::runLength(const CDownloadThread& worker) const {
    const std::int64_t rate = worker.transfer().lastRate;
    if (rate <= 0) return kFirstRunTasks;
    const std::int64_t tasks = rate * kRunMs / 1000 / DownloadTask::kSize;
    return static_cast<std::size_t>(std::clamp<std::int64_t>(tasks, 1, static_cast<std::int64_t>(kMaxRunTasks)));
}

bool CDownloader::shareOutSlowest() {
    const std::uint64_t now = platform::TickCount64();
    const std::int64_t fileLast = m_taskManager.contentLength() - 1;
    const std::vector<CDownloadThread*>& workers = m_threadManager.workers();
    std::vector<CDownloadThread::Transfer> figures;
    std::vector<std::int64_t> rates;
    std::vector<std::int64_t> latencies;
    for (const CDownloadThread* worker : workers) {
        figures.push_back(worker->transfer());
        rates.push_back(figures.back().lastRate);
        latencies.push_back(figures.back().lastLatencyMs);
    }
    std::vector<CEndGame::Request> requests;
    std::vector<CDownloadThread*> owners;
    for (std::size_t i = 0; i < workers.size(); ++i) {
        const CDownloadThread::Transfer& t = figures[i];
        if (!t.busy) continue;
        CEndGame::Request r;
        r.remaining = std::min(t.stop, fileLast) - t.nextByte + 1;
        r.bytes = t.bytes;
        r.sinceFirstByteMs = t.firstByteMs != 0 ? static_cast<std::int64_t>(now - t.firstByteMs) : -1;
        r.recentRate = t.recentRate;
        const std::uint64_t silentSince = t.firstByteMs != 0 ? t.lastByteMs : t.startMs;
        r.silentMs = now > silentSince ? static_cast<std::int64_t>(now - silentSince) : 0;
        // The server went on answering others while this request heard nothing: its
        // connection is the trouble. When everyone is silent, cutting helps no one.
        for (std::size_t j = 0; j < workers.size(); ++j) {
            if (j != i && figures[j].lastByteMs > silentSince) r.othersServed = true;
        }
        if (r.sinceFirstByteMs >= CEndGame::kMinSampleMs) rates.push_back(t.bytes * 1000 / r.sinceFirstByteMs);
        requests.push_back(r);
        owners.push_back(workers[i]);
    }
    if (owners.empty()) return false;
    const std::int64_t helperRate = CEndGame::median(rates, 0);
    const std::int64_t latency = CEndGame::median(latencies, CEndGame::kDefaultLatencyMs, true);
    const auto choice = CEndGame::choose(requests, helperRate, latency, {m_throughput.peak(), m_throughput.recent()});
    return choice && cutRequest(*owners[choice->index], choice->keep);
}

bool CDownloader::cutRequest(CDownloadThread& worker, std::int64_t keep) {
    const std::int64_t fileLast = m_taskManager.contentLength() - 1;
    const auto lastOf = [fileLast](const DownloadTask* task) { return std::min(task->EndPos.load(), fileLast); };
    std::string line;
    {
        // The worker writes its tasks and reads its run under this mutex: what it finds
        // after this block is the cut run.
        std::lock_guard<std::mutex> lock(worker.writeMutex());
        const std::vector<DownloadTask*>& run = worker.runTasks();
        if (!worker.transferringLocked() || run.empty()) return false;
        const std::int64_t from = worker.nextByteLocked();
        std::int64_t at = from + keep;
        if (at > std::min(lastOf(run.back()), worker.stop())) return false;
        auto it = std::find_if(run.begin(), run.end(), [&](const DownloadTask* t) { return lastOf(t) >= at; });
        if (it == run.end()) return false;
        DownloadTask* task = *it;
        // Too little of this task to be worth a request: give from the next task on.
        if (at > task->StartPos && keep > 0 && std::next(it) != run.end() &&
            lastOf(task) - at + 1 < CEndGame::kMinPieceBytes) {
            task = *std::next(it);
            at = task->StartPos;
        }
        if (at > task->StartPos) {
            if (m_taskManager.allTasks().size() >= static_cast<std::size_t>(CDownloadTaskManager::kMaxTasks)) {
                return false;
            }
            const DownloadTask* piece = m_taskManager.splitTask(task, at);
            if (piece == nullptr) return false;
            // Keeping nothing more, the task holds just the bytes already written: done.
            if (at == from) task->DownloadedPos.store(task->EndPos.load());
            line = " Share out: task " + std::to_string(task->TaskId) + " ends at " + std::to_string(at - 1) +
                   ", task " + std::to_string(piece->TaskId) + " takes " + std::to_string(at) + "-" +
                   std::to_string(piece->EndPos.load());
        } else {
            line = " Share out: task " + std::to_string(task->TaskId) + " and after it, from " + std::to_string(at);
        }
        for (DownloadTask* taken : worker.cutRun(at)) taken->TaskStatus.store(TASK_WAITING);
    }
    LOG(INFO) << line;
    m_splits.fetch_add(1);
    m_taskManager.requeueTasks();
    // The task file shows the new task at once: a run killed now resumes with it.
    saveTaskFile();
    return true;
}

void CDownloader::settleEarly(bool adopt) {
    // The early requests went to the URL asked for: their answers count only when the
    // probe found the file there.
    const bool sameUrl = m_taskManager.remoteUrl() == m_remoteUrl;
    for (CDownloadThread* worker : m_threadManager.workers()) {
        if (!worker->earlyPending()) continue;
        std::vector<DownloadTask*> run;
        if (adopt && sameUrl) run = m_taskManager.takeRange(worker->earlyStart(), worker->earlyEnd(), kMaxRunTasks);
        if (!run.empty() && worker->adoptEarly(run)) continue;
        for (DownloadTask* task : run) task->TaskStatus.store(TASK_WAITING);
        worker->cancelEarly();
    }
    m_taskManager.requeueTasks();
}

void CDownloader::stopRequests() {
    std::vector<DownloadTask*> returned;
    for (CDownloadThread* worker : m_threadManager.workers()) {
        std::lock_guard<std::mutex> lock(worker->writeMutex());
        if (!worker->transferringLocked()) continue;
        // Where its bytes stand: the task it is in keeps them, the tasks after it wait again.
        for (DownloadTask* task : worker->cutRun(worker->nextByteLocked())) returned.push_back(task);
    }
    for (DownloadTask* task : returned) task->TaskStatus.store(TASK_WAITING);
}
