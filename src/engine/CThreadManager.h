#pragma once
// A fixed pool of worker threads with an idle list and a busy list, and the write mutex
// that serialises every seek-and-write of every download worker in the process.
//
// Threads: dispatch, recycle, stopThreads and the list queries belong to the driver
// thread. Workers only report that they returned to idle (waitForReturn wakes on it).

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "src/engine/CThread.h"

struct DownloadTask;

class CThreadManager {
public:
    CThreadManager();
    virtual ~CThreadManager();  // stops and joins every thread
    CThreadManager(const CThreadManager&) = delete;
    CThreadManager& operator=(const CThreadManager&) = delete;

    // Creates and starts `count` threads, all idle. Returns the number created, 0 on failure.
    virtual int createThreads(int count);

    // Hands the task to the last idle thread, which becomes busy. 0 when none is idle.
    int dispatch(DownloadTask* task);
    // The thread the next dispatch hands its task to; null when none is idle.
    CThread* nextIdle() const { return m_idle.empty() ? nullptr : m_idle.back(); }
    // Moves every busy thread that is idle again (state 2) to the end of the idle list.
    void recycle();
    // Ends every idle thread.
    void stopThreads();
    bool hasBusyThread() const { return !m_busy.empty(); }
    bool hasIdleThread() const { return !m_idle.empty(); }
    std::size_t busyCount() const { return m_busy.size(); }
    std::size_t idleCount() const { return m_idle.size(); }

    // Waits until some worker has returned to idle since the previous call, or until
    // `milliseconds` passed; lets the driver wait for workers without spinning.
    void waitForReturn(int milliseconds);

    // The process-wide write mutex shared by every pool.
    static std::mutex& processWriteMutex();

protected:
    // Wires the thread to this pool, starts it and appends it to the idle list.
    void addThread(std::unique_ptr<CThread> thread);
    // Stops and joins every thread, busy ones after their current run; for destructors
    // of derived pools whose threads use members of the derived pool.
    void shutdownThreads();

    std::mutex& m_writeMutex;

private:
    std::vector<std::unique_ptr<CThread>> m_threads;  // owner
    std::vector<CThread*> m_idle;
    std::vector<CThread*> m_busy;

    std::mutex m_returnMutex;
    std::condition_variable m_returned;
    std::uint64_t m_returns = 0;
    std::uint64_t m_seenReturns = 0;
};
