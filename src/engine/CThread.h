#pragma once
// A worker thread of a pool: it sleeps on its own wake event until the driver assigns it
// one task, calls run() once for it, and goes back to sleep.
//
// Threads: assign() and stop() are called by the driver thread only; run() runs on the
// worker thread. The state is the handshake between the two: the driver sets 1 (work)
// after storing the task, or 0 (stop); the worker sets 2 (idle) after its run, and the
// driver recycles the thread only once it reads 2.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

struct DownloadTask;

class CThread {
public:
    static constexpr std::int32_t STATE_STOP = 0;
    static constexpr std::int32_t STATE_ASSIGNED = 1;
    static constexpr std::int32_t STATE_IDLE = 2;

    explicit CThread(std::mutex& writeMutex);
    virtual ~CThread();  // stops and joins the thread if it still runs
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // The work of one assignment; the base does nothing.
    virtual int run();

    // Creates the operating-system thread running the worker loop. Called once.
    bool start();
    // Stores the task, sets state 1 and wakes the thread. Only for an idle thread.
    void assign(DownloadTask* task);
    // Sets state 0 and wakes the thread so that it leaves its loop (after the current run).
    void stop();
    // Waits for the thread to end; call stop() first.
    void join();

    std::int32_t state() const { return m_state.load(); }
    DownloadTask* task() const { return m_task.load(); }
    std::mutex& writeMutex() const { return m_writeMutex; }

    // Waits up to `milliseconds` on the worker thread; a stop ends the wait early.
    void pause(int milliseconds);

    // Called on the worker thread each time it has returned to idle; set before start().
    void setReturnListener(std::function<void()> listener) { m_onReturn = std::move(listener); }

protected:
    // The task of the current assignment, for a worker whose assignment learns its task
    // while it runs (a request sent before the tasks existed). Worker thread or driver.
    void adoptTask(DownloadTask* task) { m_task.store(task); }

private:
    void loop();
    void signal();
    void waitForSignal();

    std::thread m_thread;
    std::atomic<std::int32_t> m_state{STATE_IDLE};
    std::atomic<DownloadTask*> m_task{nullptr};
    std::mutex& m_writeMutex;  // shared by every worker of the process; owned by the pools
    std::function<void()> m_onReturn;

    // Auto-reset wake event: one signal releases one wait.
    std::mutex m_eventMutex;
    std::condition_variable m_event;
    bool m_signalled = false;
};
