#pragma once
// The tasks of one download: probes the remote size (following redirects itself), cuts
// the file into 1 MiB tasks, and keeps them in an XML task file beside the download so
// that an interrupted download resumes where it stopped.
//
// The task file's format is TaskFile's (TaskFile.h). RequestTimes is written but not read
// back: it counts the requests of one run.
//
// Threads: used by the driver thread, and by the caller before the driver starts;
// contentLength() does not change once loadDownloadTask has returned; tasksCount() grows
// when the driver splits a running task.

#include <cstdint>
#include <string>

#include "src/engine/CTaskManager.h"
#include "src/engine/TaskFile.h"
#include "src/engine/errorcode.h"
#include "src/telemetry/IEventReporter.h"

class CDownloadTaskManager : public CTaskManager {
public:
    static constexpr int kProbeAttempts = 5;
    static constexpr int kMaxRedirects = 10;
    // Bounds on what a server or a task file can make us allocate.
    static constexpr std::int64_t kMaxContentLength = std::int64_t{64} << 30;  // 65536 tasks
    static constexpr std::int64_t kMaxTaskFileBytes = std::int64_t{64} << 20;
    // The most tasks a task file may hold: the generated ones and the pieces split off them.
    static constexpr std::int32_t kMaxTasks = TaskFile::kMaxTasks;

    CDownloadTaskManager(std::string remoteUrl, std::string localPath, std::string taskFilePath,
                         IEventReporter& reporter = DefaultEventReporter());

    // Probes the remote size; 0 when not found. `code` receives the last libcurl result.
    // Follows 3xx answers with a Location (at most kMaxRedirects of them) and keeps the
    // final URL. Header names match case-insensitively.
    std::int64_t getContentLength(int& code);
    // Probes up to five times, reports "GetSize" with action `label` (when not empty) and
    // creates the tasks. `flag` is not used.
    errorcode generateDownloadTask(bool flag, const std::string& label);
    // Resumes from the task file when it matches the remote file; else generates anew.
    errorcode loadDownloadTask(bool flag, const std::string& label);
    int saveTaskInfo();
    // Adds the tasks of the task file. A file that cannot be read (missing, too large, not
    // in the format) adds nothing and leaves readError() saying why.
    int readTaskInfo();
    // Why the last readTaskInfo read nothing ("expected X, found Y"); empty after a read.
    const std::string& readError() const { return m_readError; }
    // 1: matches the remote file; 2: the size differs; 3: the ranges are inconsistent;
    // 4: a task names another URL than the probe of the URL asked for; 5: the data file
    // is missing bytes the task file counts as written.
    int checkTaskInfo();
    // The data file size the tasks imply: one past the last byte they count as written.
    std::int64_t impliedFileSize() const;
    // The bytes the tasks count as written, each once (downloadedBytes counts one more
    // for every task that is not complete, and for the last one).
    std::int64_t writtenBytes() const;
    std::int64_t addDownloadTime(std::int64_t milliseconds);
    void resetTasks();

    const std::string& remoteUrl() const { return m_remoteUrl; }
    const std::string& localPath() const { return m_localPath; }
    const std::string& taskFilePath() const { return m_taskFilePath; }
    std::int64_t contentLength() const { return m_contentLength; }
    std::int64_t downloadTime() const { return m_downloadTime; }

    // The size in a header probe's text (exposed for tests); 0 when absent or unreadable.
    static std::int64_t parseContentLength(const std::string& header);

private:
    std::string m_taskFilePath;
    std::string m_remoteUrl;
    std::string m_localPath;
    std::int64_t m_contentLength = 0;
    std::int64_t m_downloadTime = 0;
    std::string m_readError;
    IEventReporter& m_reporter;
};
