#include "src/engine/CThreadManager.h"

#include <chrono>

CThreadManager::CThreadManager() : m_writeMutex(processWriteMutex()) {}

CThreadManager::~CThreadManager() { shutdownThreads(); }

std::mutex& CThreadManager::processWriteMutex() {
    // "mutex_for_downloadthread": one for every download of the process.
    static std::mutex mutex;
    return mutex;
}

int CThreadManager::createThreads(int count) {
    if (count <= 0) return 0;
    for (int i = 0; i < count; ++i) addThread(std::make_unique<CThread>(m_writeMutex));
    return count;
}

void CThreadManager::addThread(std::unique_ptr<CThread> thread) {
    thread->setReturnListener([this] {
        {
            std::lock_guard<std::mutex> lock(m_returnMutex);
            ++m_returns;
        }
        m_returned.notify_one();
    });
    thread->start();
    m_idle.push_back(thread.get());
    m_threads.push_back(std::move(thread));
}

int CThreadManager::dispatch(DownloadTask* task) {
    if (m_idle.empty()) return 0;
    CThread* thread = m_idle.back();
    m_idle.pop_back();
    thread->assign(task);
    m_busy.push_back(thread);
    return 1;
}

void CThreadManager::recycle() {
    auto keep = m_busy.begin();
    for (CThread* thread : m_busy) {
        if (thread->state() == CThread::STATE_IDLE) {
            m_idle.push_back(thread);
        } else {
            *keep++ = thread;
        }
    }
    m_busy.erase(keep, m_busy.end());
}

void CThreadManager::stopThreads() {
    for (CThread* thread : m_idle) thread->stop();
}

void CThreadManager::waitForReturn(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_returnMutex);
    m_returned.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_returns != m_seenReturns; });
    m_seenReturns = m_returns;
}

void CThreadManager::shutdownThreads() {
    for (auto& thread : m_threads) thread->stop();
    for (auto& thread : m_threads) thread->join();
    m_idle.clear();
    m_busy.clear();
    m_threads.clear();
}
