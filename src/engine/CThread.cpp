#include "src/engine/CThread.h"

#include <chrono>

CThread::CThread(std::mutex& writeMutex) : m_writeMutex(writeMutex) {}

CThread::~CThread() {
    stop();
    join();
}

int CThread::run() { return 1; }

bool CThread::start() {
    if (m_thread.joinable()) return false;
    m_thread = std::thread([this] { loop(); });
    return true;
}

void CThread::assign(DownloadTask* task) {
    // The task must be visible before the state says there is work.
    m_task.store(task);
    m_state.store(STATE_ASSIGNED);
    signal();
}

void CThread::stop() {
    m_state.store(STATE_STOP);
    signal();
}

void CThread::join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void CThread::loop() {
    for (;;) {
        const std::int32_t state = m_state.load();
        if (state == STATE_IDLE) {
            waitForSignal();
        } else if (state == STATE_STOP) {
            return;
        } else if (state == STATE_ASSIGNED) {
            run();
            // A stop that arrived during the run must not be overwritten by "idle".
            std::int32_t expected = STATE_ASSIGNED;
            m_state.compare_exchange_strong(expected, STATE_IDLE);
            if (m_onReturn) m_onReturn();
        }
    }
}

void CThread::pause(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_eventMutex);
    m_event.wait_for(lock, std::chrono::milliseconds(milliseconds),
                     [this] { return m_signalled || m_state.load() == STATE_STOP; });
}

void CThread::signal() {
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        m_signalled = true;
    }
    m_event.notify_one();
}

void CThread::waitForSignal() {
    std::unique_lock<std::mutex> lock(m_eventMutex);
    m_event.wait(lock, [this] { return m_signalled; });
    m_signalled = false;
}
