// The progress line of a recording on a terminal, redrawn in place a few times
// a second: "vornak: recording FILE  42%  frame 3634 of 8652  312 fps  0:16 left".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The line's figures, from the show frames run so far (the show runs from its
// start also for a stretch) and the video frames written:
// "  42%  frame 3634 of 8652  312 fps  0:16 left".
struct RecordProgress {
    uint32_t showFrames = 0, showFramesTotal = 0;
    uint32_t videoFrames = 0, videoFramesTotal = 0;
    double seconds = 0;  // since the start
};
std::string recordProgressText(const RecordProgress& progress);

class ProgressLine {
  public:
    // Draws nothing unless `shown` (standard error is a terminal).
    ProgressLine(bool shown, const std::string& file, uint32_t showFrames, uint32_t videoFrames);

    void update(uint32_t showFrames, uint32_t videoFrames);
    // Takes the line away before any other message.
    void clear();
    // Since the recording began.
    double seconds() const;

  private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    std::string file_;
    RecordProgress progress_;
    Clock::time_point start_;
    Clock::time_point lastDraw_{};
    bool drawn_ = false;
};
