#include "program/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

bool PendingFile::create(const std::string& target, std::string& error) {
    target_ = target;
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    struct stat existing {};
    if (stat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        error = "is a folder";
        return false;
    }
    // Hidden, and without the target's extension: never taken for a finished file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = target.substr(0, slash + 1) + "." + base + "." + std::to_string(getpid()) +
                     "-" + std::to_string(attempt) + ".part";
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    error = "cannot write in the folder '" + folder + "': " + std::strerror(errno);
    temporary_.clear();
    return false;
}

bool PendingFile::commit(std::string& error) {
    if (fsync(fd_) != 0 || close(std::exchange(fd_, -1)) != 0 ||
        rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}

void PendingFile::discard() {
    if (fd_ >= 0) close(std::exchange(fd_, -1));
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}
