#include "program/record.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "image/console_look.h"
#include "program/music_reader.h"
#include "program/offline_frames.h"
#include "program/pending_file.h"
#include "program/record_cast.h"
#include "program/record_progress.h"
#include "program/stop_signals.h"
#if VORNAK_HAVE_GIF
#include "formats/gif_writer.h"
#endif

#include "program/frame_loop.h"
#include "show/demo.h"

namespace {

// The first frame past the end of the timeline is the show's last frame.
constexpr uint32_t LAST_FRAME_TIME = (DEMO_END_MS / FRAME_MS + 1) * FRAME_MS;

constexpr int CELL_WIDTH = 8;
constexpr int CELL_HEIGHT = 12;
constexpr int LOOK_WIDTH = CONSOLE_COLUMNS * CELL_WIDTH;
constexpr int LOOK_HEIGHT = CONSOLE_ROWS * CELL_HEIGHT;

bool errorsGoToTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

std::string describeSize(uintmax_t bytes) {
    char text[32];
    if (bytes >= 1000 * 1000) {
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.1f kB", double(bytes) / 1e3);
    }
    return text;
}

std::string describeDuration(uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%03u", unsigned(ms / 60000), unsigned(ms / 1000 % 60),
                  unsigned(ms % 1000));
    return text;
}

// One recording: the show's frames in, the video file out.
class Recorder {
  public:
    Recorder(const Options& options, VideoContainer container)
        : options_(options), container_(container) {}

    int run();

  private:
    bool gif() const { return container_ == VideoContainer::Gif; }
    bool cast() const { return container_ == VideoContainer::Cast; }
    // Without a sound track the recording needs no music file.
    bool withSound() const { return !options_.noSound && hasSoundTrack(container_); }
    bool openOutput(const VideoSettings& settings);
    bool finishOutput();
    std::string codecNames() const;
    bool prepare();
    bool record(OfflineFrames<Demo>& frames);
    bool writeMoment(const Surface& cells, uint32_t time);
    int fail(const std::string& message);
    [[noreturn]] void endByRequest();

    const Options& options_;
    VideoContainer container_;
    uint32_t firstTime_ = 0;
    uint32_t lastTime_ = 0;
    uint32_t nextTime_ = 0;  // the demo time of the next video frame
    int scale_ = 1;
    std::string error_;

    MusicReader music_;
    PendingFile file_;
    VideoEncoder encoder_;
    CastRecording cast_;
#if VORNAK_HAVE_GIF
    GifWriter gifWriter_;
#endif
    std::vector<uint8_t> look_;   // the console look, LOOK_WIDTH x LOOK_HEIGHT RGBA
    std::vector<int16_t> sound_;  // one frame's music
    std::unique_ptr<ProgressLine> progress_;
};

int Recorder::fail(const std::string& message) {
    if (progress_) progress_->clear();
    std::fprintf(stderr, "vornak: %s\n", message.c_str());
    file_.discard();
    return 1;
}

void Recorder::endByRequest() {
    if (progress_) progress_->clear();
    file_.discard();
    StopSignals::endByRequest();
}

bool Recorder::prepare() {
    recordStretch(options_.recordFrom, options_.recordTo, firstTime_, lastTime_);
    nextTime_ = firstTime_;
    // Every format defaults to the console's own size. The lossy ones keep colour
    // at half resolution there (4:2:0); --scale 2 gives each pixel a colour sample
    // of its own, for about two and a half times the bytes and encoding time.
    scale_ = options_.recordScale != 0 ? options_.recordScale : 1;

    VideoSettings settings;
    settings.container = container_;
    settings.width = LOOK_WIDTH;
    settings.height = LOOK_HEIGHT;
    settings.scale = scale_;
    settings.framesPerSecond = int(1000 / FRAME_MS);
    settings.sound = withSound();
    if (settings.sound) {
        settings.soundRate = music_.rate();
        settings.soundChannels = music_.channels();
        music_.skip(soundFrameAt(firstTime_, music_.rate()));
        sound_.resize((soundFrameAt(FRAME_MS, music_.rate()) + 1) * size_t(music_.channels()));
    }
    if (!file_.create(options_.recordFile, error_)) {
        error_ = "cannot record to '" + options_.recordFile + "': " + error_;
        return false;
    }
    if (!openOutput(settings)) {
        error_ = "cannot record to '" + options_.recordFile + "': " + error_;
        return false;
    }
    if (gif() || cast()) return true;
    look_.resize(size_t(LOOK_WIDTH) * LOOK_HEIGHT * 4);
    return true;
}

bool Recorder::openOutput(const VideoSettings& settings) {
    if (cast()) {
        TerminalColors colors = TerminalColors::Auto;
        parseTerminalColors(options_.colors, colors);
        return cast_.open(file_.temporaryPath(), colors, error_);
    }
    if (!gif()) return encoder_.open(file_.temporaryPath(), settings, error_);
#if VORNAK_HAVE_GIF
    if (gifWriter_.open(file_.temporaryPath(), CONSOLE_COLUMNS, CONSOLE_ROWS, scale_)) return true;
    error_ = gifWriter_.error();
#else
    error_ = "this build has no GIF writer (giflib)";
#endif
    return false;
}

bool Recorder::finishOutput() {
    // The terminal is given back when the last frame's time is over.
    if (cast()) return cast_.finish(lastTime_ - firstTime_ + FRAME_MS, error_);
    if (!gif()) return encoder_.finish(error_);
#if VORNAK_HAVE_GIF
    if (gifWriter_.close()) return true;
    error_ = gifWriter_.error();
#endif
    return false;
}

std::string Recorder::codecNames() const {
    return gif() ? "GIF, 16 colours" : cast() ? cast_.description() : encoder_.codecNames();
}

// Encodes the picture and the music of the frame at demo time `time`.
bool Recorder::writeMoment(const Surface& cells, uint32_t time) {
    if (cast()) return cast_.addFrame(cells, time - firstTime_, error_);
#if VORNAK_HAVE_GIF
    if (gif()) {
        if (gifWriter_.addFrame(cells.pixels(), cells.pitch())) return true;
        error_ = gifWriter_.error();
        return false;
    }
#endif
    drawConsoleLookInto(cells, look_.data(), size_t(LOOK_WIDTH) * 4);
    if (!encoder_.writeFrame(look_.data(), size_t(LOOK_WIDTH) * 4, error_)) return false;
    if (!withSound()) return true;
    const uint64_t from = soundFrameAt(time, music_.rate());
    const size_t frames = size_t(soundFrameAt(time + FRAME_MS, music_.rate()) - from);
    music_.read(sound_.data(), frames);
    return encoder_.writeSound(sound_.data(), frames, error_);
}

// Runs the show up to the last moment recorded, encoding the moments of the
// stretch. False with error_ on a failure; returns early on a stop request.
bool Recorder::record(OfflineFrames<Demo>& frames) {
    while (nextTime_ <= lastTime_ && StopSignals::requested() == 0) {
        const OfflineFrame* frame = frames.next();
        if (frame == nullptr) {
            error_ = "the show ended before the frame of " + std::to_string(nextTime_) + " ms";
            return false;
        }
        if (frame->demoTime == nextTime_) {
            // The show's first moment comes twice; the video holds it once.
            if (!writeMoment(*frame->cells, frame->demoTime)) {
                error_ = "cannot record to '" + options_.recordFile + "': " + error_;
                return false;
            }
            nextTime_ += FRAME_MS;
        } else if (frame->demoTime > nextTime_) {
            error_ = "the show skipped the frame of " + std::to_string(nextTime_) + " ms";
            return false;
        }
        progress_->update(frames.framesRun(), (nextTime_ - firstTime_) / FRAME_MS);
    }
    return true;
}

int Recorder::run() {
    StopSignals stopSignals;
    if (withSound()) {
        std::string problem;
        if (!music_.open(DEMO_MUSIC_FILE, problem)) return fail(problem);
    }
    if (StopSignals::requested() != 0) StopSignals::endByRequest();
    if (!prepare()) return fail(error_);

    // Frames of the show up to the last recorded one: two at 0, then one every 20 ms.
    const uint32_t framesToRun = lastTime_ / FRAME_MS + 2;
    progress_ =
        std::make_unique<ProgressLine>(errorsGoToTerminal(), options_.recordFile, framesToRun,
                                       (lastTime_ - firstTime_) / FRAME_MS + 1);
    {
        OfflineFrames<Demo> frames(vornakDemo);
        if (!frames.start()) return fail(frames.startupText());
        cast_.setStartupText(frames.startupText());
        const bool recorded = record(frames);
        frames.finish();
        if (StopSignals::requested() != 0) endByRequest();
        if (!recorded) return fail(error_);
    }

    if (!finishOutput()) return fail("cannot record to '" + options_.recordFile + "': " + error_);
    if (StopSignals::requested() != 0) endByRequest();
    std::error_code sizeError;
    const uintmax_t size = std::filesystem::file_size(file_.temporaryPath(), sizeError);
    if (!file_.commit(error_))
        return fail("cannot record to '" + options_.recordFile + "': " + error_);

    progress_->clear();
    const uint64_t duration = uint64_t(lastTime_ - firstTime_) + FRAME_MS;
    std::fprintf(stderr, "vornak: recorded %s: %s of the show (%s), %s, in %.1f s\n",
                 options_.recordFile.c_str(), describeDuration(duration).c_str(),
                 codecNames().c_str(), sizeError ? "size unknown" : describeSize(size).c_str(),
                 progress_->seconds());
    return 0;
}

}  // namespace

bool recordStretch(uint32_t from, uint32_t to, uint32_t& firstTime, uint32_t& lastTime) {
    if (from > LAST_FRAME_TIME || to == 0) return false;
    firstTime = (from + FRAME_MS - 1) / FRAME_MS * FRAME_MS;
    lastTime = std::min(LAST_FRAME_TIME, (to - 1) / FRAME_MS * FRAME_MS);
    return firstTime <= lastTime;
}

uint64_t soundFrameAt(uint32_t ms, int rate) {
    return uint64_t(ms) * uint64_t(rate) / 1000;
}

int runRecordMode(const Options& options) {
    VideoContainer container;
    if (!videoContainerForFile(options.recordFile, container)) {
        std::fprintf(stderr, "vornak: cannot record to '%s': the file name must end in %s\n",
                     options.recordFile.c_str(), supportedVideoExtensions());
        return 2;
    }
    Recorder recorder(options, container);
    return recorder.run();
}
