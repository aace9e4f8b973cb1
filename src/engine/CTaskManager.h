#pragma once
// The tasks of one download in three lists: all tasks (creation or task-file order; the
// owner), the dispatched list (handed out or finished), and the waiting list, used as a
// stack: work is taken from its end.
//
// Threads: the lists belong to the driver thread. Workers only touch the fields of the
// one task they hold (see DownloadTask.h).

#include <cstdint>
#include <memory>
#include <vector>

#include "src/engine/DownloadTask.h"

class CTaskManager {
public:
    CTaskManager() = default;
    virtual ~CTaskManager() = default;
    CTaskManager(const CTaskManager&) = delete;
    CTaskManager& operator=(const CTaskManager&) = delete;

    // The last waiting task, now TASK_RUNNING and dispatched; null when none waits.
    virtual DownloadTask* getTask();
    virtual void pushWaitingTask(DownloadTask* task);
    virtual void pushDispatchedTask(DownloadTask* task);

    // Appends to all tasks, then to the dispatched list when finished, else to the
    // waiting list. Returns 0 for a null task, else 1.
    int addTask(std::unique_ptr<DownloadTask> task);

    bool hasWaitingTask() const { return !m_waiting.empty(); }
    // Waiting work, or a dispatched task not yet finished.
    bool hasUnfinishedTask() const;
    bool allTasksFinished() const;
    // Moves dispatched tasks that are TASK_WAITING or TASK_REQUESTED to the end of the
    // waiting list, in dispatched order.
    void requeueTasks();
    // Sum over all tasks of DownloadedPos - StartPos + 1.
    std::int64_t downloadedBytes() const;
    std::int32_t totalRequestTimes() const;
    void clearTasks();

    std::int32_t tasksCount() const { return m_tasksCount; }
    const std::vector<std::unique_ptr<DownloadTask>>& allTasks() const { return m_tasks; }
    const std::vector<DownloadTask*>& waitingTasks() const { return m_waiting; }
    const std::vector<DownloadTask*>& dispatchedTasks() const { return m_dispatched; }

protected:
    std::vector<std::unique_ptr<DownloadTask>> m_tasks;
    std::int32_t m_tasksCount = 0;
    std::vector<DownloadTask*> m_dispatched;
    std::vector<DownloadTask*> m_waiting;
};
