#pragma once
// Progress figures of one download. The driver replaces the record as a whole; readers
// get a copy (CDownloader::downloadInfo), never a half-written one.

#include <cstdint>

struct DownloadInfo {
    std::uint32_t tick = 0;        // tick count (ms) when the record was made
    std::int64_t downloaded = 0;   // downloadedBytes of the task manager
    std::int64_t written = 0;      // writtenBytes of the task manager: bytes in the file
    double percent = 0.0;          // downloaded / ContentLength * 100, cut to two decimals
    std::int64_t elapsed = 0;      // DownloadTime after this update (ms, summed across runs)
    std::int32_t requestCount = 0; // totalRequestTimes of the task manager

    // Bytes per second: whole bytes per millisecond, times 1000; 0 before any time passed.
    std::int64_t averageSpeed() const { return elapsed == 0 ? 0 : (downloaded / elapsed) * 1000; }
};
