#pragma once
// A worker of a download: each assignment makes exactly one range request, written into
// the pool's shared file. The request asks for the remaining bytes of its task, or for a
// run of adjacent tasks at once (so that a far server costs one round trip per run, not
// per MiB); each task records its own progress as its bytes arrive.
//
// While the request runs, the driver may take the rest of it away (cutRun): the bytes
// from a given offset on go to other workers, and this request stops where they begin.
//
// A download that starts afresh sends its first requests along with the size probe, before
// any task exists (setEarly): on a far server that saves the probe's round trip. Such a
// request writes nothing until the driver hands it the tasks of exactly its range
// (adoptEarly); without them (another size, a redirect, a stop) it ends quietly.
//
// Threads: run() and the write callback it drives execute on this worker thread; the
// file and the write mutex are shared with every other worker and owned by the pool.
// setRun belongs to the driver while the worker is idle; cutRun and the run's tasks are
// used under the write mutex; the figures of transfer() are atomics any thread may read.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "src/engine/CEndGame.h"
#include "src/engine/CLibcurlTool.h"
#include "src/engine/CThread.h"

struct DownloadTask;

// What the write callback needs to know about the request in flight.
struct RangeRequest {
    std::int64_t start = 0;     // first byte asked for
    std::int64_t end = 0;       // last byte asked for (one past the file for the last task)
    std::int64_t lastByte = 0;  // last byte to write: end, or the file's last byte
    std::int64_t fileSize = 0;  // size of the whole file; 0 when unknown
    CURL* handle = nullptr;     // to read the response status
    std::string headers;        // header block of the response being received
    bool checked = false;       // the status was looked at (first chunk)
    bool refused = false;       // the response is not the range asked for: write nothing
    bool complete = false;      // the byte at lastByte was written: the range is done
    int writeErrno = 0;         // errno of a write to the file that failed
    std::int64_t nextByte = 0;  // file offset of the next byte of the body
    std::size_t taskIndex = 0;  // the task of the run that nextByte belongs to
    bool open = false;          // the transfer runs: its rest may be taken away
    bool cut = false;           // it stopped because the rest was taken away, not by a fault
    bool early = false;         // sent before the tasks existed: writes only once adopted
};

class CDownloadThread : public CThread {
public:
    // The span of the request's recent rate: on a line shared with other requests, a request
    // speeds up as the others end, and its average since its first byte lags behind.
    static constexpr std::uint64_t kRecentMs = CEndGame::kRecentSpanMs;

    // A request that moved its task no further (refused connection, error status, a
    // server ignoring Range) is followed by this pause, so that a dead server is asked
    // a few times a second rather than thousands.
    static constexpr int kPauseAfterNoProgressMs = 500;

    // The figures of the request in flight (and of the one before), for the driver to
    // judge which worker is slow. Times are platform::TickCount64 milliseconds; 0 = none.
    struct Transfer {
        bool busy = false;               // a request runs
        std::int64_t nextByte = 0;       // where its bytes stand
        std::int64_t stop = 0;           // the last byte it may still write
        std::int64_t bytes = 0;          // written by it so far
        std::uint64_t startMs = 0;       // when it was sent
        std::uint64_t firstByteMs = 0;   // when its first byte was written
        std::uint64_t lastByteMs = 0;    // when this worker last wrote a byte (any request)
        std::int64_t recentRate = -1;    // bytes per second of this request lately; -1 unknown yet
        std::int64_t lastRate = -1;      // bytes per second of the previous request; -1 unknown
        std::int64_t lastLatencyMs = -1; // from sending it to its first byte; -1 unknown
    };

    CDownloadThread(std::mutex& writeMutex, std::FILE* file, const RangeTimeouts& timeouts);
    ~CDownloadThread() override;

    int run() override;

    std::FILE* file() const { return m_file; }
    RangeRequest& rangeRequest() { return m_request; }
    // The size of the file being downloaded; set before the first assignment.
    void setFileSize(std::int64_t size) { m_fileSize = size; }
    std::int64_t fileSize() const { return m_fileSize; }
    // Called with errno when a write into the file fails (disk full, read-only, too large).
    void setWriteErrorListener(std::function<void(int)> listener) { m_onWriteError = std::move(listener); }
    void reportWriteError(int code) {
        if (m_onWriteError) m_onWriteError(code);
    }

    // Driver, before assigning the run's first task: the tasks of the next request
    // (ascending and adjacent, all but the first untouched). Without one, the assigned
    // task alone.
    void setRun(std::vector<DownloadTask*> run);
    // The tasks of the request (the assigned task alone when no run was set). Under the
    // write mutex while a request runs.
    const std::vector<DownloadTask*>& runTasks() const { return m_run; }

    // Under the write mutex: whether the request still transfers, and where its bytes
    // stand (its start before the first byte).
    bool transferringLocked() const { return m_request.open; }
    std::int64_t nextByteLocked() const { return m_request.nextByte; }
    // Under the write mutex, while transferringLocked(): the request writes nothing from
    // `at` on (at >= nextByteLocked()). Returns the tasks of the run that start at or
    // after `at`, no longer this worker's; a task that `at` falls inside is the caller's
    // to cut first.
    std::vector<DownloadTask*> cutRun(std::int64_t at);

    // Any thread: a snapshot of the figures.
    Transfer transfer() const;

    // Driver or caller, while the worker is idle, before the dispatch (of no task) that
    // starts it: the next assignment is an early request for the bytes start-end of `url`,
    // redirects not followed.
    void setEarly(std::string url, std::int64_t start, std::int64_t end);
    // Any thread: an early request was set and the driver has not yet said what it is for.
    bool earlyPending() const { return m_early.load() == Early::Pending; }
    std::int64_t earlyStart() const { return m_earlyStart; }
    std::int64_t earlyEnd() const { return m_earlyEnd; }
    // Driver: the early request fetches for `run` (ascending, adjacent, together exactly
    // earlyStart()-earlyEnd()). False when it ended meanwhile: the tasks stay the caller's.
    bool adoptEarly(std::vector<DownloadTask*> run);
    // Driver: the early request ends without writing, and logs no error.
    void cancelEarly();
    // The range transfer, on this thread, before writing the first bytes of an early
    // request: waits for the driver's word (or the pool's stop). True when adopted.
    bool awaitEarly();
    bool earlyCancelled() const { return m_early.load() == Early::Cancelled; }

    // Called by the range transfer, on this thread.
    // Before sending: the last byte the request may write, and the time it is sent.
    void beginTransfer(std::int64_t lastByte);
    // Under the write mutex, each time bytes reached the file.
    void noteWritten(std::int64_t bytes);
    // The last byte the request may still write, and whether cutRun lowered it.
    std::int64_t stop() const { return m_stop.load(); }
    bool wasCut() const { return m_cut.load(); }

private:
    enum class Early { None, Pending, Adopted, Cancelled };

    int runEarly();
    // One range request of the run, made and waited for on this thread.
    void sendRequest(const std::string& url, std::int64_t start, std::int64_t end, bool early);
    // Under the write lock, once a request is over: its tasks go back to the driver (each
    // counting the request if it was made for it or got to it); whether it was cut.
    bool releaseRun();
    // After a request: the rate and latency the driver judges the next one by.
    void recordFigures();

    std::FILE* m_file;  // not owned
    RangeTimeouts m_timeouts;
    // Kept across assignments so the worker's connection is reused; one request per run.
    std::unique_ptr<CLibcurlTool> m_tool;
    RangeRequest m_request;
    std::atomic<std::int64_t> m_fileSize{0};  // set while an early request may read it
    std::function<void(int)> m_onWriteError;
    std::vector<DownloadTask*> m_run;

    std::string m_earlyUrl;
    std::int64_t m_earlyStart = 0;
    std::int64_t m_earlyEnd = 0;
    std::atomic<Early> m_early{Early::None};  // changed under the write mutex
    std::condition_variable m_earlyWord;

    std::atomic<std::int64_t> m_stop{0};
    std::atomic<bool> m_cut{false};
    std::atomic<bool> m_busy{false};
    std::atomic<std::int64_t> m_nextByte{0};
    std::atomic<std::int64_t> m_bytes{0};
    std::atomic<std::uint64_t> m_startMs{0};
    std::atomic<std::uint64_t> m_firstByteMs{0};
    std::atomic<std::uint64_t> m_lastByteMs{0};
    std::atomic<std::int64_t> m_recentRate{-1};
    std::uint64_t m_spanMs = 0;       // start of the current span of the recent rate (noteWritten)
    std::int64_t m_spanBytes = 0;     // m_bytes then
    std::atomic<std::int64_t> m_lastRate{-1};
    std::atomic<std::int64_t> m_lastLatencyMs{-1};
};
