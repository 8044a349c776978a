// A video file written with the FFmpeg libraries: RGBA pictures at a fixed frame
// rate and, optionally, interleaved 16-bit sound, encoded for the container that
// the file name's extension asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

enum class VideoContainer {
    Mp4,       // H.264 (4:2:0) + AAC: plays in browsers and on phones
    WebM,      // VP9 (4:2:0) + Opus
    Matroska,  // FFV1 in RGB + FLAC: lossless
    Gif,       // the console look exactly, 16 colours, no sound (formats/gif_writer.h)
    Cast,      // the terminal's bytes as an asciinema cast (program/record_cast.h)
};

// The container for a file name from its extension (case-insensitive); false for
// any other extension.
bool videoContainerForFile(std::string_view fileName, VideoContainer& container);
// The extensions videoContainerForFile knows, for messages.
const char* supportedVideoExtensions();
bool isLosslessContainer(VideoContainer container);
// A GIF and a cast have no sound track; a cast has no pictures to scale either.
bool hasSoundTrack(VideoContainer container);

struct VideoSettings {
    VideoContainer container = VideoContainer::Matroska;
    int width = 0;  // of the pictures handed to writeFrame
    int height = 0;
    int scale = 1;  // the video holds them enlarged this many times, pixels repeated
    int framesPerSecond = 50;
    bool sound = true;      // false: a video without a sound track
    int soundRate = 44100;  // of the samples handed to writeSound
    int soundChannels = 2;  // 1 or 2, interleaved
};

class VideoEncoder {
  public:
    VideoEncoder();
    ~VideoEncoder();  // frees everything; a file left unfinished stays as it is
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Creates or truncates `path` and prepares the encoders. On failure `error`
    // says why (without naming the file).
    bool open(const std::string& path, const VideoSettings& settings, std::string& error);
    // Encodes the next picture: width x height RGBA pixels, rows `pitch` bytes apart,
    // enlarged `scale` times.
    bool writeFrame(const uint8_t* rgba, size_t pitch, std::string& error);
    // Encodes the next `frames` sound frames (soundChannels samples each).
    bool writeSound(const int16_t* samples, size_t frames, std::string& error);
    // Drains the encoders, writes the container's index and closes the file.
    bool finish(std::string& error);

    // The encoder names in use, like "libx264 + aac", for messages.
    std::string codecNames() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};
