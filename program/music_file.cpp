#include "program/music_file.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

// The path to show for a place: the working directory by its full name.
std::string describeDirectory(const std::string& directory) {
    if (!directory.empty()) return directory;
    std::error_code error;
    const fs::path current = fs::current_path(error);
    return error ? std::string("the working directory") : current.string();
}

// The same directory however it was reached (links, "..", the working directory).
fs::path identity(const std::string& directory) {
    std::error_code error;
    const fs::path absolute = directory.empty() ? fs::current_path(error) : fs::path(directory);
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

// A file by that name that can be opened for reading, or at least tried: not a directory.
bool holdsFile(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return !error && fs::exists(status) && !fs::is_directory(status);
}

}  // namespace

std::string executableDirectory() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error || !executable.has_parent_path()) return "";
    return executable.parent_path().string();
}

std::vector<std::string> musicSearchDirectories() {
    std::vector<std::string> candidates = {""};
    const std::string programDirectory = executableDirectory();
    if (!programDirectory.empty()) {
        candidates.push_back(programDirectory);
        // VORNAK_DATA_FROM_BIN: the installed data directory relative to the
        // installed program's directory, e.g. "../share/vornak".
        candidates.push_back(
            (fs::path(programDirectory) / VORNAK_DATA_FROM_BIN).lexically_normal().string());
    }
    std::vector<std::string> directories;
    std::vector<fs::path> seen;
    for (const std::string& candidate : candidates) {
        const fs::path id = identity(candidate);
        bool repeated = false;
        for (const fs::path& earlier : seen) repeated = repeated || earlier == id;
        if (repeated) continue;
        seen.push_back(id);
        directories.push_back(candidate);
    }
    return directories;
}

MusicSearchingSound::MusicSearchingSound(SoundSystem& output, std::vector<std::string> directories)
    : output_(output), directories_(std::move(directories)) {}

int MusicSearchingSound::init(int mixRate, int channels, unsigned flags) {
    notFound_.clear();
    return output_.init(mixRate, channels, flags);
}

SoundStream* MusicSearchingSound::openStream(const char* fileName) {
    notFound_.clear();
    const fs::path name(fileName);
    // A path with a directory in it is opened as it stands.
    if (name.has_parent_path() || directories_.empty()) return output_.openStream(fileName);
    for (const std::string& directory : directories_) {
        if (directory.empty()) {
            // The working directory: the name as given, as the show asks for it.
            if (holdsFile(name)) return output_.openStream(fileName);
            continue;
        }
        const fs::path path = fs::path(directory) / name;
        if (holdsFile(path)) return output_.openStream(path.string().c_str());
    }
    notFound_ = "Cannot find music file \"" + std::string(fileName) + "\"; looked in ";
    for (size_t i = 0; i < directories_.size(); ++i) {
        if (i > 0) notFound_ += i + 1 == directories_.size() ? " and " : ", ";
        notFound_ += describeDirectory(directories_[i]);
    }
    return nullptr;
}

const char* MusicSearchingSound::problem() const {
    return notFound_.empty() ? output_.problem() : notFound_.c_str();
}
