// Builds without the FFmpeg libraries (the Windows cross build): the names of the
// containers are known, so options are checked as everywhere, but no file is
// written.
#include "program/video_encoder.h"

#include <cctype>

bool videoContainerForFile(std::string_view fileName, VideoContainer& container) {
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.find_last_of("/\\");
    if (dot == std::string_view::npos || dot == 0) return false;
    if (slash != std::string_view::npos && dot <= slash + 1) return false;
    std::string extension(fileName.substr(dot));
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".mp4") {
        container = VideoContainer::Mp4;
    } else if (extension == ".webm") {
        container = VideoContainer::WebM;
    } else if (extension == ".mkv") {
        container = VideoContainer::Matroska;
    } else {
        return false;
    }
    return true;
}

const char* supportedVideoExtensions() {
    return ".mp4 (H.264 + AAC), .webm (VP9 + Opus) or .mkv (lossless FFV1 + FLAC)";
}

bool isLosslessContainer(VideoContainer container) {
    return container == VideoContainer::Matroska;
}

int defaultVideoScale(VideoContainer container) {
    return isLosslessContainer(container) ? 1 : 2;
}

struct VideoEncoder::State {};

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::open(const std::string&, const VideoSettings&, std::string& error) {
    error = "this build of vornak cannot write videos (it has no FFmpeg libraries)";
    return false;
}

bool VideoEncoder::writeFrame(const uint8_t*, size_t, std::string& error) {
    error = "no video is open";
    return false;
}

bool VideoEncoder::writeSound(const int16_t*, size_t, std::string& error) {
    error = "no video is open";
    return false;
}

bool VideoEncoder::finish(std::string& error) {
    error = "no video is open";
    return false;
}

std::string VideoEncoder::codecNames() const {
    return "";
}
