#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

std::optional<FileLock> FileLock::Acquire(const std::filesystem::path& path, Mode mode, unsigned createMode,
                                          std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, static_cast<mode_t>(createMode));
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // flock needs no write access
    if (fd < 0) {
        error = "cannot open lock file " + path.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    FileLock lock(fd);
    int rc;
    do {
        rc = ::flock(fd, mode == Mode::Exclusive ? LOCK_EX : LOCK_SH);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = "cannot lock " + path.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return lock;
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace platform
