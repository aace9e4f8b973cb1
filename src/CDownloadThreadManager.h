#pragma once
// The worker pool of one download: opens the download file (kept when it exists, so a
// resumed download keeps its bytes) and shares it with every worker.
//
// Threads: as CThreadManager. The file handle is written only by the workers, under the
// process write mutex, and closed after every worker has ended.

#include <cstdio>
#include <string>

#include "CLibcurlTool.h"
#include "CThreadManager.h"

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

private:
    std::string m_localPath;
    RangeTimeouts m_timeouts;
    std::FILE* m_file = nullptr;
};
