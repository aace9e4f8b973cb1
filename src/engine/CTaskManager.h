#pragma once
// The tasks of one download in three lists: all tasks (in file order; the owner), the
// dispatched list (handed out or finished), and the waiting list, used as a stack: work is
// taken from its end.
//
// Threads: the lists belong to the driver thread. Workers only touch the fields of the
// one task they hold (see DownloadTask.h).

#include <atomic>
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
    // getTask, then the waiting tasks adjacent to it in the file, up to `maxTasks` in all,
    // so that one range request can fetch them: ascending, each starting where the one
    // before ends, and all but the first untouched (nothing written yet). A task that is
    // already complete comes alone. Empty when none waits.
    std::vector<DownloadTask*> getRun(std::size_t maxTasks);
    // The waiting tasks that together cover exactly the bytes start-end, none of them
    // begun, at most `maxTasks`: now running and dispatched, ascending. They are those of a
    // request sent for that range before the tasks existed. Empty, and nothing taken, when
    // the tasks do not fit the range.
    std::vector<DownloadTask*> takeRange(std::int64_t start, std::int64_t end, std::size_t maxTasks);
    // Cuts a task in two at `at` (StartPos < at <= its last byte): the task keeps the bytes
    // before `at`, and a new waiting task, numbered after all others, takes the rest. The
    // caller makes sure no worker writes the task meanwhile. Returns the new task; null
    // for an `at` out of range, or one byte into a task with nothing written.
    DownloadTask* splitTask(DownloadTask* task, std::int64_t at);
    virtual void pushWaitingTask(DownloadTask* task);
    virtual void pushDispatchedTask(DownloadTask* task);

    // Appends to all tasks, then to the dispatched list when finished, else to the
    // waiting list. Returns 0 for a null task, else 1.
    int addTask(std::unique_ptr<DownloadTask> task);

    bool hasWaitingTask() const { return !m_waiting.empty(); }
    // Bytes the waiting tasks still have to fetch.
    std::int64_t waitingBytes() const;
    // Waiting work, or a dispatched task not yet finished.
    bool hasUnfinishedTask() const;
    bool allTasksFinished() const;
    // Moves dispatched tasks that are TASK_WAITING or TASK_REQUESTED to the end of the
    // waiting list, in dispatched order; a TASK_REQUESTED one that is complete is marked
    // TASK_FINISHED instead.
    void requeueTasks();
    // Sum over all tasks of DownloadedPos - StartPos + 1.
    std::int64_t downloadedBytes() const;
    std::int32_t totalRequestTimes() const;
    void clearTasks();

    // Tasks in all, the pieces split off running tasks included.
    std::int32_t tasksCount() const { return m_tasksCount; }
    const std::vector<std::unique_ptr<DownloadTask>>& allTasks() const { return m_tasks; }
    const std::vector<DownloadTask*>& waitingTasks() const { return m_waiting; }
    const std::vector<DownloadTask*>& dispatchedTasks() const { return m_dispatched; }

protected:
    // Index in m_tasks of `task` (found by its StartPos); m_tasks.size() when absent.
    std::size_t indexOf(const DownloadTask* task) const;
    // Takes `task` off the waiting list; false when it is not there.
    bool takeWaiting(DownloadTask* task);

    std::vector<std::unique_ptr<DownloadTask>> m_tasks;
    std::atomic<std::int32_t> m_tasksCount{0};  // grows on a split while the caller may read it
    std::vector<DownloadTask*> m_dispatched;
    std::vector<DownloadTask*> m_waiting;
};
