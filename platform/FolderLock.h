#pragma once
// An exclusive advisory lock (flock) on a folder itself, held for the object's lifetime:
// two runs of Setup for one product must never download into, verify in or start from
// the same folder at once. The lock is on the folder's own descriptor, so no lock file
// is needed (nothing to plant a link for), and a killed holder releases it with its
// descriptor. flock locks belong to the open file: two FolderLocks on one folder exclude
// each other even within one process.

#include <optional>
#include <string>

namespace platform {

class FolderLock {
public:
    enum class Outcome { FOLDER_LOCKED, FOLDER_BUSY, FOLDER_LOCK_FAILED };

    // Takes the lock without waiting. FOLDER_BUSY when another holder has it;
    // FOLDER_LOCK_FAILED (with `error`) when `folder` is no directory or cannot be opened.
    // A link at `folder` is not followed.
    static std::optional<FolderLock> TryAcquire(const std::string& folder, Outcome& outcome, std::string& error);

    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

private:
    explicit FolderLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

const char* to_string(FolderLock::Outcome outcome);

}  // namespace platform
