#pragma once
// A worker of a download: each assignment makes exactly one range request for the
// remaining bytes of its task, written into the pool's shared file.
//
// Threads: run() and the write callback it drives execute on this worker thread; the
// file and the write mutex are shared with every other worker and owned by the pool.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "src/engine/CLibcurlTool.h"
#include "src/engine/CThread.h"

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
};

class CDownloadThread : public CThread {
public:
    // A request that moved its task no further (refused connection, error status, a
    // server ignoring Range) is followed by this pause, so that a dead server is asked
    // a few times a second rather than thousands.
    static constexpr int kPauseAfterNoProgressMs = 500;

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

private:
    std::FILE* m_file;  // not owned
    RangeTimeouts m_timeouts;
    // Kept across assignments so the worker's connection is reused; one request per run.
    std::unique_ptr<CLibcurlTool> m_tool;
    RangeRequest m_request;
    std::int64_t m_fileSize = 0;
    std::function<void(int)> m_onWriteError;
};
