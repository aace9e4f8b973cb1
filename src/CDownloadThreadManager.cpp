#include "CDownloadThreadManager.h"

#include <memory>

#include "CDownloadThread.h"
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
    m_file = platform::OpenForUpdate(m_localPath);
    if (m_file == nullptr) return 0;
    // Every write goes straight to the system: a position saved in the task file must
    // never name bytes still sitting in this process's buffer when it is killed.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    for (int i = 0; i < count; ++i) addThread(std::make_unique<CDownloadThread>(m_writeMutex, m_file, m_timeouts));
    return count;
}
