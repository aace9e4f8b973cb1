#pragma once
// One download of one URL into one local file: owns the task manager and the worker
// pool, and runs a driver thread that hands waiting tasks to idle workers until every
// task is finished or it is told to stop, keeps the progress figures, and saves the task
// file as the download advances.
//
// How workers spend their time: an idle worker gets a run of adjacent waiting tasks to
// fetch in one request, as long as its connection fetches in about kRunMs (and no more
// than its share of what waits), so that a far server costs a round trip per run rather
// than per MiB. Once nothing waits, an idle worker takes over part of the rest of the
// slowest running request (CEndGame): the task it is in is split in two, the new task
// appears in the task file, and the slow request stops where the new task begins. Not
// while the line the download has shown (CThroughputPeak) would carry the rest no sooner.
//
// A download that starts afresh may send its workers' first requests along with the size
// probe (setEarlyRequests): the first kFirstRunTasks tasks' worth each, from the start of
// the file, so that a far server costs one round trip before the first bytes instead of
// two. Nothing is written before startDownload; the driver then hands each request the
// tasks of its range, or ends it quietly when they do not exist (a smaller file), when
// the probe was redirected (the ranges come from where it led), or when it stops.
//
// Use: construct -> downloadInit -> (if ERRORCODE_OK) startDownload, watch state() and
// downloadInfo() -> in every case stopDownload -> waitForDriver -> destroy.
//
// Threads: the caller thread calls downloadInit (before startDownload), startDownload,
// stopDownload and the queries; the driver thread owns the task lists and the pool while
// it runs. state() and downloadInfo() may be read at any time and are always whole.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "src/engine/CDownloadTaskManager.h"
#include "src/engine/CDownloadThreadManager.h"
#include "src/engine/CThroughputPeak.h"
#include "src/engine/DownloadInfo.h"
#include "src/engine/errorcode.h"
#include "src/telemetry/IEventReporter.h"

class CDownloader {
public:
    static constexpr std::int32_t STATE_STOPPING = 0;
    static constexpr std::int32_t STATE_RUNNING = 1;
    static constexpr std::int32_t STATE_CREATED = 2;

    static constexpr std::size_t kFirstRunTasks = 2;  // a worker whose rate is not known yet
    static constexpr std::size_t kMaxRunTasks = 8;    // so that a stall holds back little
    static constexpr std::int64_t kRunMs = 1500;      // what a run should take at its worker's rate

    // The tasks a worker's run may hold so that `workers` end together with `leftBytes`
    // still to fetch (what waits and what runs): its share, rounded up to whole tasks,
    // at least one.
    static std::size_t shareTasks(std::int64_t leftBytes, std::size_t workers);

    // Starts the driver thread at once; it waits until startDownload or stopDownload.
    CDownloader(std::string remoteUrl, std::string localPath, std::string taskFilePath, std::int32_t threadCount,
                IEventReporter& reporter = DefaultEventReporter(), const RangeTimeouts& timeouts = RangeTimeouts());
    // Stops the driver (if still running) and waits for it; closes the download file.
    ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Before downloadInit: whether a download without a task file sends its first requests
    // with the size probe. Off by default: the speed test samples as it always has, and
    // Setup's download keeps its room check before any range and fetches nothing past the
    // end of the file (a window straddling the end is ended, its bytes thrown away).
    void setEarlyRequests(bool on) { m_earlyRequests = on; }
    // Opens the local file with the workers and loads or generates the tasks. `flag` is
    // not used; `label` is the action of the size probe's "GetSize" report.
    // ERRORCODE_LOCAL_FILE: the file cannot be opened; ERRORCODE_CONTENT_LENGTH: no size.
    errorcode downloadInit(bool flag, const std::string& label);
    // After downloadInit, for a download meant to finish (a speed test samples a few
    // seconds and needs no room for the whole file): ERRORCODE_NO_SPACE when the folder
    // cannot take the rest of the file (free space, the process's file-size limit), so
    // that it is refused before the first range is written (early requests are ended
    // unwritten when the caller then stops) instead of failing when the disk is full,
    // as if the network had.
    errorcode checkRoom() const;
    int startDownload();
    int stopDownload();
    // Recomputes the progress figures (driver thread). Returns 1.
    int updateDownloadInfo();
    // The driver thread's procedure; returns 1 when the download has stopped.
    int downloaderThread();

    // Waits without limit for the driver thread to end.
    void waitForDriver();
    bool driverFinished() const { return m_driverFinished.load(); }
    // Waits at most `ms` for the driver thread to end (a caller's poll that wakes up as
    // soon as it does, rather than a nap); true when it has.
    bool waitForDriverFor(std::uint32_t ms);
    // errno of the latest failed write into the download file (disk full, read-only, file
    // too large); 0 while none failed. A download that gets it makes no further progress.
    int writeErrno() const { return m_threadManager.writeErrno(); }
    // Passes of the driver loop so far: how often the driver woke up.
    std::uint64_t driverPasses() const { return m_driverPasses.load(); }
    // Running requests that gave part of their rest to idle workers, in this run.
    std::uint32_t splits() const { return m_splits.load(); }

    std::int32_t state() const { return m_state.load(); }
    // Whether any work was dispatched in this run.
    bool dispatched() const { return m_dispatched.load() != 0; }
    DownloadInfo downloadInfo() const;
    std::int64_t contentLength() const { return m_taskManager.contentLength(); }
    std::int32_t tasksCount() const { return m_taskManager.tasksCount(); }

    // For tests and tools, after waitForDriver (or before startDownload).
    CDownloadTaskManager& taskManager() { return m_taskManager; }
    CDownloadThreadManager& threadManager() { return m_threadManager; }

private:
    void saveTaskFile();
    bool hasRoomFor(std::int64_t size) const;
    // Hands the waiting tasks to the idle workers, a run each.
    void dispatchWaiting();
    // How many tasks the next run of `worker` may have, before its share is counted.
    std::size_t runLength(const CDownloadThread& worker) const;
    // With nothing waiting and a worker idle: makes the slowest running request give up
    // part of its rest, which then waits. True when it did.
    bool shareOutSlowest();
    // Stops `worker`'s request after `keep` more bytes; the rest waits. True when it did.
    bool cutRequest(CDownloadThread& worker, std::int64_t keep);
    // The early requests still waiting for a word: each gets the tasks of its range
    // (`adopt`) or ends without writing.
    void settleEarly(bool adopt);
    // Stopping: every running request ends where its bytes stand, so that a run of
    // several tasks does not hold the stop up.
    void stopRequests();

    std::string m_remoteUrl;
    std::string m_localPath;
    std::string m_taskFilePath;
    std::int32_t m_threadCount;
    bool m_earlyRequests = false;
    std::atomic<bool> m_earlyPending{false};  // set by downloadInit, settled by the driver
    std::atomic<std::int32_t> m_state{STATE_CREATED};
    std::thread m_driver;
    std::atomic<bool> m_driverFinished{false};
    std::mutex m_finishMutex;
    std::condition_variable m_finished;
    std::atomic<std::uint8_t> m_dispatched{0};
    std::atomic<std::uint64_t> m_driverPasses{0};
    std::atomic<std::uint32_t> m_splits{0};
    mutable std::mutex m_infoMutex;
    DownloadInfo m_info;
    CDownloadTaskManager m_taskManager;
    CDownloadThreadManager m_threadManager;
    CThroughputPeak m_throughput;  // driver thread
};
