#pragma once
// What the network tests share: the task file as a test reads it, the checks on the
// ranges a server was asked for, and setup-tool download run as a child process with a
// chosen environment.

#include <tinyxml2.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Process.h"

namespace nettest {

constexpr std::int64_t MiB = 1048576;

// One task of a task file: its inclusive byte range and where it stood when saved.
struct TaskState {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t downloaded = 0;
    bool finished() const { return downloaded == end; }
};

inline std::vector<TaskState> ReadTaskFile(const std::string& path) {
    std::vector<TaskState> tasks;
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS || doc.RootElement() == nullptr) return tasks;
    for (const tinyxml2::XMLElement* task = doc.RootElement()->FirstChildElement("Task"); task != nullptr;
         task = task->NextSiblingElement("Task")) {
        TaskState state;
        auto field = [&](const char* name, std::int64_t& value) {
            if (const tinyxml2::XMLElement* element = task->FirstChildElement(name)) element->QueryInt64Text(&value);
        };
        field("StartPos", state.start);
        field("EndPos", state.end);
        field("DownloadedPos", state.downloaded);
        tasks.push_back(state);
    }
    return tasks;
}

// The tasks of a kill as a later run left them cut: an idle worker of that run may have
// taken over the rest of a slow request, which ends its task early and makes a new task
// of the rest, and the requests name those ends. Each task keeps where it stood at the
// kill; a task made after the kill had nothing yet.
inline std::vector<TaskState> CutAsLater(const std::vector<TaskState>& atKill, const std::vector<TaskState>& later) {
    std::vector<TaskState> tasks;
    for (const TaskState& task : later) {
        TaskState state = task;
        state.downloaded = task.start;
        for (const TaskState& before : atKill) {
            if (before.start == task.start) state.downloaded = std::min(before.downloaded, task.end);
        }
        tasks.push_back(state);
    }
    return tasks;
}

inline std::int64_t RecordedBytes(const std::vector<TaskState>& tasks) {
    std::int64_t bytes = 0;
    for (const TaskState& task : tasks) bytes += task.downloaded - task.start;
    return bytes;
}

// "bytes=FIRST-LAST" as a Range header carries it.
inline std::optional<std::pair<std::int64_t, std::int64_t>> ParseRange(const std::string& header) {
    long long first = 0, last = 0;
    char tail = 0;
    if (std::sscanf(header.c_str(), "bytes=%lld-%lld%c", &first, &last, &tail) != 2) return std::nullopt;
    return std::make_pair(static_cast<std::int64_t>(first), static_cast<std::int64_t>(last));
}

// The ranges one run asked for, in the order the server logged them, checked against
// the tasks as that run found them: every range goes from where its first task stood (or
// further, after a failed request) to the end of that task or of a later one (a run of
// adjacent tasks fetched at once, all but the first untouched), the first request of a
// task starts exactly where it stood, and a finished task is never asked for. With
// `oncePerTask`, a well-behaved server was asked for each task at most once, and
// `everyUnfinished` that each unfinished task was asked for.
inline void ExpectRangesContinueTasks(const std::vector<TaskState>& tasks, const std::vector<std::string>& ranges,
                                      bool oncePerTask, bool everyUnfinished, const std::string& run) {
    std::vector<int> requests(tasks.size(), 0);
    for (const std::string& header : ranges) {
        const auto range = ParseRange(header);
        if (!range) {
            ADD_FAILURE() << run << ": not a byte range: '" << header << "'";
            continue;
        }
        std::size_t index = 0;
        while (index < tasks.size() && !(range->first >= tasks[index].start && range->first <= tasks[index].end)) ++index;
        if (index == tasks.size()) {
            ADD_FAILURE() << run << ": " << header << " starts in no task";
            continue;
        }
        std::size_t last = index;
        while (last < tasks.size() && tasks[last].end != range->second) ++last;
        if (last == tasks.size()) {
            ADD_FAILURE() << run << ": " << header << " does not end at a task's end";
            continue;
        }
        for (std::size_t k = index; k <= last; ++k) {
            const TaskState& task = tasks[k];
            EXPECT_FALSE(task.finished()) << run << ": " << header << " asks again for a finished task";
            if (k > index) {
                EXPECT_EQ(task.downloaded, task.start) << run << ": " << header << " runs through a task begun before";
            }
            const std::int64_t from = k == index ? range->first : task.start;
            if (requests[k]++ == 0) {
                EXPECT_EQ(from, task.downloaded) << run << ": " << header << " is not where its task stood";
            } else {
                EXPECT_GE(from, task.downloaded) << run << ": " << header << " fetches bytes already there";
                EXPECT_FALSE(oncePerTask) << run << ": " << header << " asked for a second time";
            }
        }
    }
    if (!everyUnfinished) return;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        if (!tasks[i].finished()) {
            EXPECT_GT(requests[i], 0) << run << ": nothing asked for task " << tasks[i].start << "-" << tasks[i].end;
        }
    }
}

// setup-tool download URL FILE [arguments] in an environment without proxies but for
// `environment` ("NAME=value" entries), its standard output captured.
inline std::optional<platform::ChildProcess> StartDownload(const std::string& url, const std::string& file,
                                                           const std::vector<std::string>& environment,
                                                           const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> argv = {"env"};
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTPS_PROXY", "ALL_PROXY",
                             "NO_PROXY", "CURL_CA_BUNDLE"}) {
        argv.insert(argv.end(), {"-u", name});
    }
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), {QV_SETUP_TOOL, "download", url, file});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    platform::SpawnOptions options;
    options.stdinFromNull = true;
    options.captureStdout = true;
    platform::SpawnError error;
    auto child = platform::ChildProcess::Start(argv, options, error);
    if (!child) ADD_FAILURE() << "setup-tool did not start: " << error.message;
    return child;
}

struct DownloadRun {
    int exitCode = -1;
    std::string out;
};

// Lets a started download run to its end (at most `limitMs`; a hang is a failure).
inline DownloadRun FinishDownload(platform::ChildProcess& child, std::uint32_t limitMs) {
    DownloadRun run;
    bool complete = false;
    run.out = child.ReadStdoutFor(limitMs, complete);
    if (child.Wait(complete ? 10000 : 0) != platform::ChildProcess::WaitResult::WAIT_EXITED) {
        child.Kill();
        child.Wait(5000);
        ADD_FAILURE() << "setup-tool download did not end within " << limitMs << " ms:\n" << run.out;
        return run;
    }
    run.exitCode = child.ExitCode();
    return run;
}

// Waits until the task file records at least `atLeast` bytes, then kills the download
// with SIGKILL (no chance to save anything) and returns the task file as it was left.
// Fails the test when the download ended first or never got that far.
inline std::vector<TaskState> KillOnceRecorded(platform::ChildProcess& child, const std::string& taskFile,
                                               std::int64_t atLeast) {
    for (int i = 0; i < 2400; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (child.Wait(0) == platform::ChildProcess::WaitResult::WAIT_EXITED) {
            ADD_FAILURE() << "the download ended (code " << child.ExitCode() << ") before it could be killed:\n"
                          << child.ReadAllStdout();
            return {};
        }
        if (RecordedBytes(ReadTaskFile(taskFile)) >= atLeast) break;
    }
    child.Kill();
    child.Wait(10000);
    std::vector<TaskState> tasks = ReadTaskFile(taskFile);
    EXPECT_GE(RecordedBytes(tasks), atLeast) << "the task file never recorded enough progress";
    return tasks;
}

}  // namespace nettest
