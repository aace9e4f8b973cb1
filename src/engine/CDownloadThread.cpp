#include "src/engine/CDownloadThread.h"

#include <algorithm>
#include <chrono>

#include "src/engine/DownloadTask.h"
#include "platform/Clock.h"

namespace {

// A request shorter than this says little about its connection's rate.
constexpr std::int64_t kRateSampleBytes = 64 * 1024;

}  // namespace

CDownloadThread::CDownloadThread(std::mutex& writeMutex, std::FILE* file, const RangeTimeouts& timeouts)
    : CThread(writeMutex), m_file(file), m_timeouts(timeouts) {}

CDownloadThread::~CDownloadThread() {
    // The loop calls run(), which needs this object whole: end it before members go.
    stop();
    join();
}

void CDownloadThread::setRun(std::vector<DownloadTask*> run) {
    std::lock_guard<std::mutex> lock(writeMutex());
    m_run = std::move(run);
}

int CDownloadThread::run() {
    // Set before the dispatch; only runEarly puts it back to None.
    if (m_early.load() != Early::None) return runEarly();
    DownloadTask* task = this->task();
    if (task == nullptr) return 1;
    {
        std::lock_guard<std::mutex> lock(writeMutex());
        if (m_run.empty() || m_run.front() != task) m_run.assign(1, task);
    }
    if (m_run.size() == 1 && task->DownloadedPos.load() == task->EndPos.load()) {
        task->TaskStatus.store(TASK_FINISHED);
        setRun({});
        return 1;
    }
    sendRequest(task->RemotePath, task->DownloadedPos.load(), m_run.back()->EndPos.load(), false);
    bool cut = false;
    {
        // The request is over: the driver cuts it no more, and its tasks go back.
        std::lock_guard<std::mutex> lock(writeMutex());
        cut = releaseRun();
    }
    recordFigures();
    m_busy.store(false);
    // The task is back with the driver; only this worker waits.
    if (m_bytes.load() == 0 && !cut) pause(kPauseAfterNoProgressMs);
    return 1;
}

void CDownloadThread::sendRequest(const std::string& url, std::int64_t start, std::int64_t end, bool early) {
    if (!m_tool) {
        m_tool = std::make_unique<CLibcurlTool>();
        m_tool->init();
    }
    m_tool->setRangeTimeouts(m_timeouts);
    {
        std::lock_guard<std::mutex> lock(writeMutex());
        m_request = RangeRequest{};
        m_request.early = early;
    }
    m_tool->httpDownloadContent(url, start, end, this);
}

bool CDownloadThread::releaseRun() {
    for (DownloadTask* done : m_run) {
        // A task counts a request when the request was made for it or got to it.
        if (done == m_run.front() || done->StartPos < m_request.nextByte) done->RequestTimes.fetch_add(1);
        done->TaskStatus.store(TASK_REQUESTED);
    }
    m_run.clear();
    return m_request.cut;
}

void CDownloadThread::recordFigures() {
    const Transfer figures = transfer();
    if (figures.bytes >= kRateSampleBytes) {
        // A burst within one tick counts as one millisecond.
        const auto ms = std::max<std::int64_t>(1, static_cast<std::int64_t>(figures.lastByteMs - figures.firstByteMs));
        m_lastRate.store(figures.bytes * 1000 / ms);
    }
    if (figures.firstByteMs != 0) {
        m_lastLatencyMs.store(static_cast<std::int64_t>(figures.firstByteMs - figures.startMs));
    }
}

void CDownloadThread::setEarly(std::string url, std::int64_t start, std::int64_t end) {
    std::lock_guard<std::mutex> lock(writeMutex());
    m_earlyUrl = std::move(url);
    m_earlyStart = start;
    m_earlyEnd = end;
    m_run.clear();
    m_early.store(Early::Pending);
}

bool CDownloadThread::adoptEarly(std::vector<DownloadTask*> run) {
    {
        std::lock_guard<std::mutex> lock(writeMutex());
        if (m_early.load() != Early::Pending || run.empty()) return false;
        m_run = std::move(run);
        adoptTask(m_run.front());
        m_early.store(Early::Adopted);
    }
    m_earlyWord.notify_all();
    return true;
}

void CDownloadThread::cancelEarly() {
    {
        std::lock_guard<std::mutex> lock(writeMutex());
        if (m_early.load() != Early::Pending) return;
        m_early.store(Early::Cancelled);
    }
    m_earlyWord.notify_all();
}

bool CDownloadThread::awaitEarly() {
    std::unique_lock<std::mutex> lock(writeMutex());
    while (m_early.load() == Early::Pending) {
        // A pool shutting down stops its workers without a word from the driver.
        if (state() == STATE_STOP) {
            m_early.store(Early::Cancelled);
            break;
        }
        m_earlyWord.wait_for(lock, std::chrono::milliseconds(20));
    }
    return m_early.load() == Early::Adopted;
}

int CDownloadThread::runEarly() {
    bool adopted = false;
    if (m_early.load() != Early::Cancelled) sendRequest(m_earlyUrl, m_earlyStart, m_earlyEnd, true);
    bool cut = false;
    {
        // Adopted or not, the driver hands this request nothing more.
        std::lock_guard<std::mutex> lock(writeMutex());
        adopted = m_early.load() == Early::Adopted;
        m_early.store(Early::None);
        cut = releaseRun();
    }
    recordFigures();
    m_busy.store(false);
    // An answer the driver wanted and that moved nothing: as after any such request.
    if (adopted && m_bytes.load() == 0 && !cut) pause(kPauseAfterNoProgressMs);
    return 1;
}

std::vector<DownloadTask*> CDownloadThread::cutRun(std::int64_t at) {
    m_stop.store(std::min(m_stop.load(), at - 1));
    m_cut.store(true);
    const auto gone = std::find_if(m_run.begin(), m_run.end(), [at](const DownloadTask* t) { return t->StartPos >= at; });
    std::vector<DownloadTask*> taken(gone, m_run.end());
    m_run.erase(gone, m_run.end());
    return taken;
}

CDownloadThread::Transfer CDownloadThread::transfer() const {
    Transfer figures;
    figures.busy = m_busy.load();
    figures.nextByte = m_nextByte.load();
    figures.stop = m_stop.load();
    figures.bytes = m_bytes.load();
    figures.startMs = m_startMs.load();
    figures.firstByteMs = m_firstByteMs.load();
    figures.lastByteMs = m_lastByteMs.load();
    figures.recentRate = m_recentRate.load();
    figures.lastRate = m_lastRate.load();
    figures.lastLatencyMs = m_lastLatencyMs.load();
    return figures;
}

void CDownloadThread::beginTransfer(std::int64_t lastByte) {
    m_stop.store(lastByte);
    m_cut.store(false);
    m_nextByte.store(m_request.nextByte);
    m_bytes.store(0);
    m_firstByteMs.store(0);
    m_recentRate.store(-1);
    m_startMs.store(platform::TickCount64());
    m_busy.store(true);
}

void CDownloadThread::noteWritten(std::int64_t bytes) {
    const std::uint64_t now = platform::TickCount64();
    const std::int64_t total = m_bytes.fetch_add(bytes) + bytes;
    if (m_firstByteMs.load() == 0) {
        m_firstByteMs.store(now);
        // The first bytes came in before the first span, which starts with them.
        m_spanMs = now;
        m_spanBytes = total;
    }
    m_lastByteMs.store(now);
    // The rate over the latest whole span.
    if (now - m_spanMs >= kRecentMs) {
        m_recentRate.store((total - m_spanBytes) * 1000 / static_cast<std::int64_t>(now - m_spanMs));
        m_spanMs = now;
        m_spanBytes = total;
    }
    m_nextByte.store(m_request.nextByte);
}
