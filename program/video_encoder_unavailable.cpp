// Builds without the FFmpeg libraries (the Windows cross build): options are
// checked as everywhere (video_container.cpp), but no file is written.
#include "program/video_encoder.h"

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
