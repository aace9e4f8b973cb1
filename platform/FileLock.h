#pragma once
// An advisory whole-file lock (flock) held for the object's lifetime. flock locks belong
// to the open file, so two FileLocks on one path exclude each other even within one
// process, and a killed holder releases its lock with its last descriptor.

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

class FileLock {
public:
    enum class Mode { Shared, Exclusive };

    // Opens the lock file (creating it with `createMode` when missing) and waits for the
    // lock. nullopt with `error` set when the file cannot be opened or locked.
    static std::optional<FileLock> Acquire(const std::filesystem::path& path, Mode mode, unsigned createMode,
                                           std::string& error);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace platform
