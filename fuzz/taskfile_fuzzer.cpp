// libFuzzer target: the download task-file reader over arbitrary file contents. The input
// is written to a task file and read back the way a resumed download reads it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "src/engine/CDownloadTaskManager.h"

namespace {

class SilentReporter : public IEventReporter {
public:
    int ReportEvent(const std::string&, const std::string&, const std::string&, bool) override { return 0; }
};

std::string TaskFilePath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qv-taskfile-fuzz-" +
           std::to_string(std::random_device()()) + ".xml";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = TaskFilePath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    SilentReporter reporter;
    CDownloadTaskManager manager("http://127.0.0.1:1/setup.exe", "/dev/null", path, reporter);
    manager.readTaskInfo();
    // Touch everything that was read, as the resume check does next.
    std::int64_t sink = manager.contentLength() ^ manager.downloadTime() ^ manager.tasksCount();
    for (const auto& task : manager.allTasks()) {
        sink ^= task->StartPos ^ task->EndPos ^ task->DownloadedPos.load() ^ task->TaskStatus.load() ^ task->TaskId;
        sink ^= static_cast<std::int64_t>(task->RemotePath.size() + task->LocalPath.size());
    }
    volatile std::int64_t keep = sink;
    (void)keep;
    return 0;
}
