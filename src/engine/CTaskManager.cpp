#include "src/engine/CTaskManager.h"

#include <algorithm>
#include <iterator>
#include <memory>

DownloadTask* CTaskManager::getTask() {
    if (m_waiting.empty()) return nullptr;
    DownloadTask* task = m_waiting.back();
    m_waiting.pop_back();
    task->TaskStatus.store(TASK_RUNNING);
    pushDispatchedTask(task);
    return task;
}

namespace {

bool IsWaitingStatus(const DownloadTask& task) {
    const std::int32_t status = task.TaskStatus.load();
    return status == TASK_WAITING || status == TASK_REQUESTED;
}

bool Untouched(const DownloadTask& task) {
    return task.DownloadedPos.load() == task.StartPos && task.EndPos.load() != task.StartPos;
}

}  // namespace

std::vector<DownloadTask*> CTaskManager::getRun(std::size_t maxTasks) {
    std::vector<DownloadTask*> run;
    DownloadTask* first = getTask();
    if (first == nullptr) return run;
    run.push_back(first);
    if (first->DownloadedPos.load() == first->EndPos.load()) return run;
    const std::size_t at = indexOf(first);
    if (at == m_tasks.size()) return run;
    // Whatever joins must be waiting and end or start exactly at the run, so that the
    // bytes of one request land in the tasks in order; only the run's first task may
    // have bytes already.
    const auto join = [this](DownloadTask* task, bool asFirst) {
        if (!IsWaitingStatus(*task) || task->DownloadedPos.load() == task->EndPos.load() ||
            (!asFirst && !Untouched(*task)) || !takeWaiting(task)) {
            return false;
        }
        task->TaskStatus.store(TASK_RUNNING);
        pushDispatchedTask(task);
        return true;
    };
    // The stack hands out the last tasks first: grow towards the start of the file first.
    for (std::size_t low = at; run.size() < maxTasks && low > 0 && Untouched(*run.front()); --low) {
        DownloadTask* before = m_tasks[low - 1].get();
        if (before->EndPos.load() + 1 != run.front()->StartPos || !join(before, true)) break;
        run.insert(run.begin(), before);
    }
    for (std::size_t high = at + 1; run.size() < maxTasks && high < m_tasks.size(); ++high) {
        DownloadTask* after = m_tasks[high].get();
        if (run.back()->EndPos.load() + 1 != after->StartPos || !join(after, false)) break;
        run.push_back(after);
    }
    return run;
}

std::vector<DownloadTask*> CTaskManager::takeRange(std::int64_t start, std::int64_t end, std::size_t maxTasks) {
    std::vector<DownloadTask*> run;
    auto it = std::lower_bound(m_tasks.begin(), m_tasks.end(), start,
                               [](const auto& t, std::int64_t at) { return t->StartPos < at; });
    std::int64_t next = start;
    for (; it != m_tasks.end() && run.size() < maxTasks; ++it) {
        DownloadTask* task = it->get();
        if (task->StartPos != next || !IsWaitingStatus(*task) || !Untouched(*task) ||
            std::find(m_waiting.begin(), m_waiting.end(), task) == m_waiting.end()) {
            return {};
        }
        run.push_back(task);
        next = task->EndPos.load() + 1;
        if (next - 1 >= end) break;
    }
    if (run.empty() || run.back()->EndPos.load() != end) return {};
    for (DownloadTask* task : run) {
        takeWaiting(task);
        task->TaskStatus.store(TASK_RUNNING);
        pushDispatchedTask(task);
    }
    return run;
}

DownloadTask* CTaskManager::splitTask(DownloadTask* task, std::int64_t at) {
    const std::size_t index = indexOf(task);
    if (index == m_tasks.size() || at <= task->StartPos || at >= task->EndPos.load()) return nullptr;
    // A one-byte task nobody has written to would read as complete (DownloadedPos is its
    // StartPos, which is its EndPos), its byte never fetched.
    if (at == task->StartPos + 1 && task->DownloadedPos.load() == task->StartPos) return nullptr;
    auto piece = std::make_unique<DownloadTask>();
    // Numbers stay 1..count: the piece takes the next one.
    m_tasksCount = std::max<std::int32_t>(m_tasksCount, static_cast<std::int32_t>(m_tasks.size())) + 1;
    piece->TaskId = m_tasksCount.load();
    piece->RemotePath = task->RemotePath;
    piece->LocalPath = task->LocalPath;
    piece->StartPos = at;
    piece->EndPos.store(task->EndPos.load());  // the file's last task keeps its end at the size
    piece->DownloadedPos.store(at);
    piece->TaskStatus.store(TASK_WAITING);
    task->EndPos.store(at - 1);
    DownloadTask* raw = piece.get();
    m_tasks.insert(m_tasks.begin() + static_cast<std::ptrdiff_t>(index) + 1, std::move(piece));
    pushWaitingTask(raw);
    return raw;
}

std::size_t CTaskManager::indexOf(const DownloadTask* task) const {
    const auto found = std::lower_bound(m_tasks.begin(), m_tasks.end(), task->StartPos,
                                        [](const auto& t, std::int64_t start) { return t->StartPos < start; });
    if (found == m_tasks.end() || found->get() != task) return m_tasks.size();
    return static_cast<std::size_t>(found - m_tasks.begin());
}

bool CTaskManager::takeWaiting(DownloadTask* task) {
    // Neighbours of the task just taken from the end are usually next to it.
    const auto found = std::find(m_waiting.rbegin(), m_waiting.rend(), task);
    if (found == m_waiting.rend()) return false;
    m_waiting.erase(std::next(found).base());
    return true;
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

std::int64_t CTaskManager::waitingBytes() const {
    std::int64_t bytes = 0;
    for (const DownloadTask* task : m_waiting) bytes += task->EndPos.load() - task->DownloadedPos.load();
    return bytes;
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
        if (status == TASK_REQUESTED && task->DownloadedPos.load() == task->EndPos.load()) {
            // Complete already. Back in the waiting list it would wait for an idle worker
            // only to be marked finished, and under tasks that keep failing, the newest
            // on the stack, it could wait there until the download is stopped.
            task->TaskStatus.store(TASK_FINISHED);
            *keep++ = task;
        } else if (status == TASK_WAITING || status == TASK_REQUESTED) {
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
