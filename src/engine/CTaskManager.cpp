#include "src/engine/CTaskManager.h"

#include <algorithm>

DownloadTask* CTaskManager::getTask() {
    if (m_waiting.empty()) return nullptr;
    DownloadTask* task = m_waiting.back();
    m_waiting.pop_back();
    task->TaskStatus.store(TASK_RUNNING);
    pushDispatchedTask(task);
    return task;
}

void CTaskManager::pushWaitingTask(DownloadTask* task) { m_waiting.push_back(task); }

void CTaskManager::pushDispatchedTask(DownloadTask* task) { m_dispatched.push_back(task); }

int CTaskManager::addTask(std::unique_ptr<DownloadTask> task) {
    if (!task) return 0;
    DownloadTask* raw = task.get();
    m_tasks.push_back(std::move(task));
    if (raw->TaskStatus.load() == TASK_FINISHED) {
        pushDispatchedTask(raw);
    } else {
        pushWaitingTask(raw);
    }
    return 1;
}

bool CTaskManager::hasUnfinishedTask() const {
    if (!m_waiting.empty()) return true;
    return std::any_of(m_dispatched.begin(), m_dispatched.end(),
                       [](const DownloadTask* t) { return t->TaskStatus.load() != TASK_FINISHED; });
}

bool CTaskManager::allTasksFinished() const {
    return std::all_of(m_tasks.begin(), m_tasks.end(),
                       [](const auto& t) { return t->TaskStatus.load() == TASK_FINISHED; });
}

void CTaskManager::requeueTasks() {
    auto keep = m_dispatched.begin();
    for (DownloadTask* task : m_dispatched) {
        const std::int32_t status = task->TaskStatus.load();
        if (status == TASK_WAITING || status == TASK_REQUESTED) {
            pushWaitingTask(task);
        } else {
            *keep++ = task;
        }
    }
    m_dispatched.erase(keep, m_dispatched.end());
}

std::int64_t CTaskManager::downloadedBytes() const {
    std::int64_t sum = 0;
    for (const auto& task : m_tasks) sum += task->DownloadedPos.load() - task->StartPos + 1;
    return sum;
}

std::int32_t CTaskManager::totalRequestTimes() const {
    std::int32_t sum = 0;
    for (const auto& task : m_tasks) sum += task->RequestTimes.load();
    return sum;
}

void CTaskManager::clearTasks() {
    m_waiting.clear();
    m_dispatched.clear();
    m_tasks.clear();
    m_tasksCount = 0;
}
