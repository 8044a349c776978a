// Which container a recording's file name asks for: the part every build has,
// with or without the encoders.
#include <cctype>
#include <string>

#include "program/video_encoder.h"

namespace {

struct ContainerName {
    const char* extension;
    VideoContainer container;
};

constexpr ContainerName CONTAINER_NAMES[] = {
    {".mp4", VideoContainer::Mp4},      {".webm", VideoContainer::WebM},
    {".mkv", VideoContainer::Matroska}, {".gif", VideoContainer::Gif},
    {".cast", VideoContainer::Cast},
};

}  // namespace

bool videoContainerForFile(std::string_view fileName, VideoContainer& container) {
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return false;
    std::string extension(fileName.substr(dot));
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    // A name that is only the extension (".mkv") is a hidden file, not a video name.
    if (dot == 0 || (slash != std::string_view::npos && dot == slash + 1)) return false;
    for (const ContainerName& name : CONTAINER_NAMES) {
        if (extension == name.extension) {
            container = name.container;
            return true;
        }
    }
    return false;
}

const char* supportedVideoExtensions() {
    return ".mp4 (H.264 + AAC), .webm (VP9 + Opus), .mkv (lossless FFV1 + FLAC), .gif "
           "(exact, no sound) or .cast (asciinema terminal recording)";
}

bool isLosslessContainer(VideoContainer container) {
    return container == VideoContainer::Matroska || container == VideoContainer::Gif ||
           container == VideoContainer::Cast;
}

bool hasSoundTrack(VideoContainer container) {
    return container != VideoContainer::Gif && container != VideoContainer::Cast;
}
