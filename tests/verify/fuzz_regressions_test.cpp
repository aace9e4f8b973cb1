// Replays the hostile inputs kept from fuzzing the signature reader and the task-file
// reader: each must be refused (or read) without a crash, a leak or undefined behaviour.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "src/engine/CDownloadTaskManager.h"
#include "tests/engine/EngineTestSupport.h"
#include "platform/TrustVerifier.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const std::string& target) {
    std::vector<fs::path> found;
    const fs::path dir = fs::path(QV_SOURCE_DIR) / "tests" / "regressions" / target;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
    }
    return found;
}

std::vector<std::uint8_t> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzRegressionsTest, SignatureInputsAreRefused) {
    const auto inputs = Inputs("signature");
    ASSERT_FALSE(inputs.empty());
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.filename().string());
        const auto bytes = Bytes(path);
        EXPECT_NE(platform::TrustVerifier().VerifyBytes(bytes).status, platform::TRUST_STATUS_OK);
        EXPECT_NE(platform::TrustVerifier().VerifyFile(path.string()).status, platform::TRUST_STATUS_OK);
    }
}

TEST(FuzzRegressionsTest, TaskFileInputsAreReadSafely) {
    const auto inputs = Inputs("taskfile");
    ASSERT_FALSE(inputs.empty());
    enginetest::RecordingReporter reporter;
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.filename().string());
        CDownloadTaskManager manager("http://127.0.0.1:1/setup.exe", "/dev/null", path.string(), reporter);
        manager.readTaskInfo();
        EXPECT_LE(manager.allTasks().size(), static_cast<std::size_t>(CDownloadTaskManager::kMaxContentLength >> 20));
    }
}

}  // namespace
