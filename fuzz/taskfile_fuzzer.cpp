// libFuzzer target: the task-file format over arbitrary text. Whatever it reads must print
// back to a text that reads to the same values, and print the same again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "src/engine/TaskFile.h"

namespace {

bool Same(const TaskFile& a, const TaskFile& b) {
    if (a.TasksCount != b.TasksCount || a.ContentLength != b.ContentLength || a.DownloadTime != b.DownloadTime ||
        a.Tasks.size() != b.Tasks.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.Tasks.size(); ++i) {
        const TaskFile::Task& x = a.Tasks[i];
        const TaskFile::Task& y = b.Tasks[i];
        if (x.StartPos != y.StartPos || x.EndPos != y.EndPos || x.DownloadedPos != y.DownloadedPos ||
            x.RemotePath != y.RemotePath || x.LocalPath != y.LocalPath || x.TaskStatus != y.TaskStatus ||
            x.TaskId != y.TaskId || x.RequestTimes != y.RequestTimes) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TaskFile file;
    std::string error;
    if (!TaskFile::parse(text, file, error)) {
        if (error.rfind("expected ", 0) != 0) std::abort();  // every refusal says what it expected
        return 0;
    }
    if (file.Tasks.size() != static_cast<std::size_t>(file.TasksCount)) std::abort();
    const std::string printed = file.print();
    TaskFile again;
    if (!TaskFile::parse(printed, again, error) || !Same(file, again) || again.print() != printed) std::abort();
    return 0;
}
