#include "program/record_progress.h"

#include <algorithm>
#include <cstdio>

#include "platform/terminal_sequences.h"

namespace {

constexpr auto PROGRESS_INTERVAL = std::chrono::milliseconds(250);

}  // namespace

std::string recordProgressText(const RecordProgress& progress) {
    const uint32_t total = std::max<uint32_t>(progress.showFramesTotal, 1);
    const uint32_t done = std::min(progress.showFrames, total);
    const unsigned percent = unsigned(uint64_t(done) * 100 / total);
    const double rate = progress.seconds > 0 ? done / progress.seconds : 0;
    char text[96];
    int length = std::snprintf(text, sizeof text, "  %3u%%  frame %u of %u", percent,
                               unsigned(progress.videoFrames), unsigned(progress.videoFramesTotal));
    if (rate > 0 && length > 0) {
        const unsigned left = unsigned((total - done) / rate + 0.5);
        std::snprintf(text + length, sizeof text - size_t(length), "  %.0f fps  %u:%02u left", rate,
                      left / 60, left % 60);
    }
    return text;
}

ProgressLine::ProgressLine(bool shown, const std::string& file, uint32_t showFrames,
                           uint32_t videoFrames)
    : shown_(shown), file_(file), start_(Clock::now()) {
    progress_.showFramesTotal = showFrames;
    progress_.videoFramesTotal = videoFrames;
}

void ProgressLine::update(uint32_t showFrames, uint32_t videoFrames) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (drawn_ && now - lastDraw_ < PROGRESS_INTERVAL) return;
    lastDraw_ = now;
    drawn_ = true;
    progress_.showFrames = showFrames;
    progress_.videoFrames = videoFrames;
    progress_.seconds = seconds();
    const std::string text = recordProgressText(progress_);
    const std::string line = std::string(vt::CARRIAGE_RETURN) + "vornak: recording " + file_ +
                             text + std::string(vt::ERASE_TO_LINE_END);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressLine::clear() {
    if (shown_ && drawn_) std::fwrite(vt::CLEAR_LINE.data(), 1, vt::CLEAR_LINE.size(), stderr);
    drawn_ = false;
}

double ProgressLine::seconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}
