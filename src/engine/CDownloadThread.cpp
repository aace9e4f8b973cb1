#include "src/engine/CDownloadThread.h"

#include "src/engine/DownloadTask.h"

CDownloadThread::CDownloadThread(std::mutex& writeMutex, std::FILE* file, const RangeTimeouts& timeouts)
    : CThread(writeMutex), m_file(file), m_timeouts(timeouts) {}

CDownloadThread::~CDownloadThread() {
    // The loop calls run(), which needs this object whole: end it before members go.
    stop();
    join();
}

int CDownloadThread::run() {
    DownloadTask* task = this->task();
    if (task == nullptr) return 1;
    if (task->DownloadedPos.load() == task->EndPos) {
        task->TaskStatus.store(TASK_FINISHED);
        return 1;
    }
    if (!m_tool) {
        m_tool = std::make_unique<CLibcurlTool>();
        m_tool->init();
    }
    m_tool->setRangeTimeouts(m_timeouts);
    m_request = RangeRequest{};
    const std::int64_t before = task->DownloadedPos.load();
    m_tool->httpDownloadContent(task->RemotePath, task->DownloadedPos.load(), task->EndPos, this);
    const bool progressed = task->DownloadedPos.load() != before;
    task->RequestTimes.fetch_add(1);
    task->TaskStatus.store(TASK_REQUESTED);
    // The task is back with the driver; only this worker waits.
    if (!progressed) pause(kPauseAfterNoProgressMs);
    return 1;
}
