#include "src/engine/CDownloadThreadManager.h"

#include <cerrno>
#include <memory>

#include "src/engine/CDownloadThread.h"
#include "platform/FileStreams.h"

CDownloadThreadManager::CDownloadThreadManager(std::string localPath, const RangeTimeouts& timeouts)
    : m_localPath(std::move(localPath)), m_timeouts(timeouts) {}

CDownloadThreadManager::~CDownloadThreadManager() {
    // Workers write into the file until they end.
    shutdownThreads();
    if (m_file != nullptr) std::fclose(m_file);
}

int CDownloadThreadManager::createThreads(int count) {
    if (count <= 0 || count > kMaxThreads || m_file != nullptr) return 0;
    // An existing file keeps its bytes (a resumed download); a link is never followed.
    errno = 0;
    m_file = platform::OpenForUpdate(m_localPath);
    if (m_file == nullptr) {
        m_openErrno = errno != 0 ? errno : EIO;
        return 0;
    }
    // Every write goes straight to the system: a position saved in the task file must
    // never name bytes still sitting in this process's buffer when it is killed.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    for (int i = 0; i < count; ++i) {
        auto worker = std::make_unique<CDownloadThread>(m_writeMutex, m_file, m_timeouts);
        worker->setWriteErrorListener([this](int code) { m_writeErrno.store(code); });
        m_workers.push_back(worker.get());
        addThread(std::move(worker));
    }
    return count;
}

void CDownloadThreadManager::setFileSize(std::int64_t size) {
    for (CDownloadThread* worker : m_workers) worker->setFileSize(size);
}

int CDownloadThreadManager::dispatchRun(std::vector<DownloadTask*> run) {
    CDownloadThread* worker = nextIdleWorker();
    if (worker == nullptr || run.empty()) return 0;
    DownloadTask* first = run.front();
    worker->setRun(std::move(run));
    return dispatch(first);
}

int CDownloadThreadManager::sendEarly(const std::string& url, std::int64_t span) {
    int sent = 0;
    for (CDownloadThread* worker = nextIdleWorker(); worker != nullptr && span > 0; worker = nextIdleWorker()) {
        const std::int64_t start = span * sent;
        worker->setEarly(url, start, start + span - 1);
        dispatch(nullptr);
        ++sent;
    }
    return sent;
}

CDownloadThread* CDownloadThreadManager::nextIdleWorker() const {
    // Every thread of this pool is one of its workers.
    return static_cast<CDownloadThread*>(nextIdle());
}
