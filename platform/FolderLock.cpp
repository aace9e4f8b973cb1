#include "platform/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

std::optional<FolderLock> FolderLock::TryAcquire(const std::string& folder, Outcome& outcome, std::string& error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        outcome = Outcome::FOLDER_LOCK_FAILED;
        error = "cannot open " + folder + ": " + std::strerror(errno);
        return std::nullopt;
    }
    FolderLock lock(fd);
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        outcome = Outcome::FOLDER_LOCKED;
        return lock;
    }
    if (errno == EWOULDBLOCK) {
        outcome = Outcome::FOLDER_BUSY;
    } else {
        outcome = Outcome::FOLDER_LOCK_FAILED;
        error = "cannot lock " + folder + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

const char* to_string(FolderLock::Outcome outcome) {
    switch (outcome) {
        case FolderLock::Outcome::FOLDER_LOCKED: return "locked";
        case FolderLock::Outcome::FOLDER_BUSY: return "busy";
        case FolderLock::Outcome::FOLDER_LOCK_FAILED: return "lock failed";
    }
    return "unknown";
}

}  // namespace platform
