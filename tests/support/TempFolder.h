#pragma once
// A fresh folder under the system's temporary directory for one test, removed with
// everything in it when the object goes. Its name begins with the caller's prefix (a
// prefix with a blank gives a folder with a blank in its name) and goes on with the
// process id, a counter and a random number, so tests running side by side in several
// processes never share a folder and a folder left behind by a crashed run is never
// picked up again. The path is the folder's canonical one, so it compares equal to paths
// the code under test has resolved even where the temporary directory is a link.

#include <atomic>
#include <filesystem>
#include <random>
#include <string>

#include "platform/Process.h"

namespace qvtest {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "qv-test-") {
        static std::atomic<int> counter{0};
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                (prefix + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(++counter) + "_" +
                 std::to_string(random()));
        std::filesystem::create_directories(path_);
        path_ = std::filesystem::canonical(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // The path of an entry directly inside the folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace qvtest
