#pragma once
// The worker pool of one download: opens the download file (kept when it exists, so a
// resumed download keeps its bytes) and shares it with every worker.
//
// Threads: as CThreadManager. The file handle is written only by the workers, under the
// process write mutex, and closed after every worker has ended.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "src/engine/CLibcurlTool.h"
#include "src/engine/CThreadManager.h"

class CDownloadThread;
struct DownloadTask;

class CDownloadThreadManager : public CThreadManager {
public:
    static constexpr int kMaxThreads = 64;

    explicit CDownloadThreadManager(std::string localPath, const RangeTimeouts& timeouts = RangeTimeouts());
    ~CDownloadThreadManager() override;

    // Opens the download file (kept when it exists, else created; never through a link)
    // and creates `count` workers on it. 0 when the file cannot be opened or the count is
    // out of 1..64.
    int createThreads(int count) override;

    std::FILE* file() const { return m_file; }
    const std::string& localPath() const { return m_localPath; }
    // errno of the failed open in createThreads; 0 when it did not fail.
    int openErrno() const { return m_openErrno; }

    // Tells every worker the size of the file, so that nothing is written past it and an
    // answer about another file is refused. Before the first dispatch.
    void setFileSize(std::int64_t size);
    // Hands a run of tasks (CTaskManager::getRun) to the next idle worker as one request.
    // 0 when none is idle or the run is empty.
    int dispatchRun(std::vector<DownloadTask*> run);
    // Starts an early request (CDownloadThread::setEarly) of `url` on every idle worker,
    // the i-th for the bytes i*span to (i+1)*span-1. Returns how many were started.
    int sendEarly(const std::string& url, std::int64_t span);
    // The next idle worker (null when none): the one dispatchRun hands the next run to.
    CDownloadThread* nextIdleWorker() const;
    // Every worker, busy or idle.
    const std::vector<CDownloadThread*>& workers() const { return m_workers; }
    // errno of the latest write into the download file that failed (a full disk, a
    // read-only folder, a file-size limit); 0 while every write succeeded. Any thread.
    int writeErrno() const { return m_writeErrno.load(); }

private:
    std::string m_localPath;
    RangeTimeouts m_timeouts;
    std::FILE* m_file = nullptr;
    int m_openErrno = 0;
    std::vector<CDownloadThread*> m_workers;  // owned by the base pool
    std::atomic<int> m_writeErrno{0};
};
