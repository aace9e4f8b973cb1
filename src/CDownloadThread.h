#pragma once
// A worker of a download: each assignment makes exactly one range request for the
// remaining bytes of its task, written into the pool's shared file.
//
// Threads: run() and the write callback it drives execute on this worker thread; the
// file and the write mutex are shared with every other worker and owned by the pool.

#include <cstdint>
#include <cstdio>
#include <memory>

#include "CLibcurlTool.h"
#include "CThread.h"

// What the write callback needs to know about the request in flight.
struct RangeRequest {
    std::int64_t start = 0;     // first byte asked for
    CURL* handle = nullptr;     // to read the response status
    bool checked = false;       // the status was looked at (first chunk)
    bool refused = false;       // the response is not the range asked for: write nothing
    bool landedOnEnd = false;   // a whole chunk ended exactly at EndPos (see run())
    bool complete = false;      // the byte at EndPos was written: the range is done
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

private:
    std::FILE* m_file;  // not owned
    RangeTimeouts m_timeouts;
    // Kept across assignments so the worker's connection is reused; one request per run.
    std::unique_ptr<CLibcurlTool> m_tool;
    RangeRequest m_request;
};
