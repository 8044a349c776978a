// An output file written under a temporary name beside its target and renamed
// over the target only once complete, so that a failed or interrupted run
// leaves neither a half-written file nor a damaged earlier one.
#pragma once

#include <string>

class PendingFile {
  public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    // Uncommitted, the temporary file goes.
    ~PendingFile() { discard(); }

    // Creates the temporary file; false with the reason in `error`.
    bool create(const std::string& target, std::string& error);
    const std::string& temporaryPath() const { return temporary_; }
    // Makes the complete file durable, then gives it the target's name.
    bool commit(std::string& error);
    // Removes the temporary file.
    void discard();

  private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
};
