#pragma once
// One 1 MiB byte range of a download, as kept in the task file.
//
// Threads: the driver thread owns the task (through its task manager). While a worker
// holds it, the worker writes DownloadedPos (under the download write mutex),
// RequestTimes and TaskStatus; the driver reads them meanwhile to compute progress and
// to save the task file, hence the atomics. EndPos changes only when the driver splits a
// running task (under the write mutex, which the worker holds to read it while writing).
// The other fields do not change after the task is created.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

enum DownloadTaskStatus : std::int32_t {
    TASK_WAITING = 0,    // created, not yet handed to a worker
    TASK_FINISHED = 1,   // DownloadedPos equals EndPos
    TASK_REQUESTED = 2,  // a worker made one request for it and returned it unfinished
    TASK_RUNNING = 3,    // handed to a worker
};

inline const char* to_string(DownloadTaskStatus status) {
    switch (status) {
        case TASK_WAITING: return "TASK_WAITING";
        case TASK_FINISHED: return "TASK_FINISHED";
        case TASK_REQUESTED: return "TASK_REQUESTED";
        case TASK_RUNNING: return "TASK_RUNNING";
    }
    return "unknown task status";
}

struct DownloadTask {
    static constexpr std::int64_t kSize = 1048576;  // bytes of every task but the last

    std::atomic<std::int32_t> TaskStatus{TASK_WAITING};
    // 1-based: the generated tasks are numbered in file order; a piece split off a running
    // task takes the next number after all others.
    std::int32_t TaskId = 0;
    std::string RemotePath;
    std::string LocalPath;  // informational; workers write into the pool's shared file
    std::int64_t StartPos = 0;
    // Offset of the last byte of the range; for the last task the file size, one past
    // its last byte, so that "DownloadedPos == EndPos" means complete for every task.
    std::atomic<std::int64_t> EndPos{0};
    // The next byte to write, and EndPos once the last byte is in. A range written up to
    // just before EndPos records one byte less, so that EndPos never claims a byte that
    // is not in the file yet (the next request fetches that byte again).
    std::atomic<std::int64_t> DownloadedPos{0};
    std::atomic<std::int32_t> RequestTimes{0};   // range requests made in this run

    // One past the last byte of the run written from StartPos on (StartPos: none), in a
    // file of `contentLength` bytes.
    std::int64_t writtenEnd(std::int64_t contentLength) const {
        const std::int64_t downloaded = DownloadedPos.load();
        const std::int64_t last = EndPos.load();
        return downloaded == last ? std::min(last + 1, contentLength) : downloaded;
    }
};
