#include "program/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

#if defined(_WIN32)
// Both separators name folders on Windows.
constexpr const char* FOLDER_SEPARATORS = "/\\";

int createNew(const std::string& path) {
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}
int processId() {
    return _getpid();
}
int flushToDisk(int fd) {
    return _commit(fd);
}
int closeFile(int fd) {
    return _close(fd);
}
// rename() does not replace an existing file on Windows.
bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}
#else
constexpr const char* FOLDER_SEPARATORS = "/";

int createNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
int processId() {
    return int(getpid());
}
int flushToDisk(int fd) {
    return fsync(fd);
}
int closeFile(int fd) {
    return close(fd);
}
bool replaceFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}
#endif

}  // namespace

bool PendingFile::create(const std::string& target, std::string& error) {
    target_ = target;
    const size_t slash = target.find_last_of(FOLDER_SEPARATORS);
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? target.substr(0, 1)
                                                          : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::error_code ignored;
    if (std::filesystem::is_directory(target, ignored)) {
        error = "is a folder";
        return false;
    }
    // Hidden, and without the target's extension: never taken for a finished file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = target.substr(0, slash + 1) + "." + base + "." + std::to_string(processId()) +
                     "-" + std::to_string(attempt) + ".part";
        fd_ = createNew(temporary_);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    error = "cannot write in the folder '" + folder + "': " + std::strerror(errno);
    temporary_.clear();
    return false;
}

bool PendingFile::commit(std::string& error) {
    if (flushToDisk(fd_) != 0 || closeFile(std::exchange(fd_, -1)) != 0 ||
        !replaceFile(temporary_, target_)) {
        error = std::strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}

void PendingFile::discard() {
    if (fd_ >= 0) closeFile(std::exchange(fd_, -1));
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}
