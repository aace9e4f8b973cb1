#pragma once
// The task file of a download as plain values, and its text. The file sits beside the
// download (its path + ".xml") and lets an interrupted download resume where it stopped.
//
//   <TaskInfo>                              no declaration, four spaces per level
//       <TasksCount>N</TasksCount>          the number of <Task> elements that follow
//       <ContentLength>bytes</ContentLength>  the remote file's size
//       <DownloadTime>ms</DownloadTime>     time spent downloading, summed across runs
//       <Task>                              N of them, in file order
//           <StartPos/> <EndPos/> <DownloadedPos/>   64-bit offsets
//           <RemotePath/> <LocalPath/>               text
//           <TaskStatus/> <TaskId/> <RequestTimes/>  32-bit
//       </Task>
//   </TaskInfo>
//
// Reading is strict: the elements the writer writes, in its order, with decimal values;
// anything else is refused with "expected X, found Y". Whether the tasks describe a
// usable download (ranges, positions, statuses) is the task manager's question, not the
// format's.
//
// Depends on tinyxml2 alone. Not shared between threads.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TaskFile {
    struct Task {
        std::int64_t StartPos = 0;
        std::int64_t EndPos = 0;
        std::int64_t DownloadedPos = 0;
        std::string RemotePath;
        std::string LocalPath;
        std::int32_t TaskStatus = 0;
        std::int32_t TaskId = 0;
        std::int32_t RequestTimes = 0;
    };

    // Bounds on what a file can make a reader allocate: a 64 GiB download has 65536
    // tasks, and the pieces split off running tasks at its end can at most double that.
    static constexpr std::int32_t kMaxTasks = 1 << 17;
    static constexpr std::size_t kMaxTextBytes = 1 << 15;  // of RemotePath and LocalPath each

    std::int32_t TasksCount = 0;
    std::int64_t ContentLength = 0;
    std::int64_t DownloadTime = 0;
    std::vector<Task> Tasks;

    // The file's text as it is saved. TasksCount is written as it stands.
    std::string print() const;
    // Reads `text` into `out` (replacing all of it). On failure returns false, leaves
    // `out` as it was and says what was wrong in `error`: "expected X, found Y".
    static bool parse(std::string_view text, TaskFile& out, std::string& error);
};
