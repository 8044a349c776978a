#include "program/record.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "image/console_look.h"
#include "platform/headless_console.h"
#include "platform/ogg_decoder.h"
#include "platform/sound.h"
#include "platform/sound_stream.h"
#include "platform/virtual_clock.h"
#include "program/frame_loop.h"
#include "program/music_file.h"
#include "show/demo.h"

namespace {

// The first frame past the end of the timeline is the show's last frame.
constexpr uint32_t LAST_FRAME_TIME = (DEMO_END_MS / FRAME_MS + 1) * FRAME_MS;
constexpr int CELL_WIDTH = 8;
constexpr int CELL_HEIGHT = 12;
constexpr int LOOK_WIDTH = CONSOLE_COLUMNS * CELL_WIDTH;
constexpr int LOOK_HEIGHT = CONSOLE_ROWS * CELL_HEIGHT;
constexpr auto PROGRESS_INTERVAL = std::chrono::milliseconds(250);

const ConsoleInputEvent ESCAPE_DOWN = {CONSOLE_KEY_EVENT, 1, CONSOLE_VK_ESCAPE};

#if !defined(_WIN32)
// ---------------------------------------------------------------------------
// The music, read front to back as the show plays it: 44.1 kHz stereo, found
// where the show finds it. The one place that uses the decoder's interface.
class MusicReader final : public SoundSystem {
  public:
    // Fails with the same cause line as the show's start-up; a file cut short
    // fails too, since the recording would keep the fault for good.
    bool open(const char* fileName, std::string& problem) {
        MusicSearchingSound search(*this, musicSearchDirectories());
        if (search.openStream(fileName) == nullptr) {
            problem = search.problem();
            return false;
        }
        return true;
    }
    int rate() const { return OggMusicSource::OUTPUT_RATE; }
    int channels() const { return 2; }
    void skip(uint64_t frames) {
        while (frames > 0) {
            const size_t step = size_t(std::min<uint64_t>(frames, SKIP_FRAMES));
            read(skipped_, step);
            frames -= step;
        }
    }
    // The next `frames` frames into `out`; silence after the end of the music.
    void read(int16_t* out, size_t frames) {
        size_t done = 0;
        while (done < frames && !ended_) {
            const size_t got = source_.read(out + done * 2, frames - done);
            ended_ = got == 0;
            done += got;
        }
        std::fill(out + done * 2, out + frames * 2, int16_t(0));
    }

    // The search opens the file it found through this.
    SoundStream* openStream(const char* path) override {
        problem_.clear();
        if (!source_.open(path, problem_)) return nullptr;
        if (!source_.notice().empty()) {
            problem_ = source_.notice();
            return nullptr;
        }
        return &opened_;
    }
    int init(int, int, unsigned) override { return 1; }
    int play(SoundStream*) override { return 1; }
    void stop(SoundStream*) override {}
    void close(SoundStream*) override {}
    void shutdown() override {}
    const char* problem() const override { return problem_.c_str(); }

  private:
    static constexpr size_t SKIP_FRAMES = 4096;
    OggMusicSource source_;
    SoundStream opened_;  // stands for the open music towards the search
    std::string problem_;
    bool ended_ = false;
    int16_t skipped_[SKIP_FRAMES * 2];
};

// ---------------------------------------------------------------------------
// The output under a temporary name beside the target, renamed over the target
// only once complete. Destroyed uncommitted, it removes the temporary file.
class PendingFile {
  public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() { discard(); }

    bool create(const std::string& target, std::string& error) {
        target_ = target;
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : target.substr(0, slash);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        struct stat existing {};
        if (stat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
            error = "is a folder";
            return false;
        }
        // Hidden, and without the video's extension: never taken for a finished file.
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary_ = target.substr(0, slash + 1) + "." + base + "." + std::to_string(getpid()) +
                         "-" + std::to_string(attempt) + ".part";
            fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) return true;
            if (errno != EEXIST) break;
        }
        error = "cannot write in the folder '" + folder + "': " + std::strerror(errno);
        temporary_.clear();
        return false;
    }

    const std::string& temporaryPath() const { return temporary_; }

    // Makes the complete file durable, then gives it the target's name.
    bool commit(std::string& error) {
        if (fsync(fd_) != 0 || close(std::exchange(fd_, -1)) != 0 ||
            rename(temporary_.c_str(), target_.c_str()) != 0) {
            error = std::strerror(errno);
            return false;
        }
        temporary_.clear();
        return true;
    }

    void discard() {
        if (fd_ >= 0) close(std::exchange(fd_, -1));
        if (!temporary_.empty()) unlink(temporary_.c_str());
        temporary_.clear();
    }

  private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
};

// ---------------------------------------------------------------------------
// Termination requests stop the recording after the current frame.
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal) {
    stopSignal = signal;
}

class StopSignals {
  public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        // A second request ends the program at once.
        action.sa_flags = SA_RESETHAND;
        for (size_t i = 0; i < SIGNAL_COUNT; ++i) {
            sigaction(SIGNALS[i], nullptr, &previous_[i]);
            // A signal ignored when we started (a background job's Ctrl-C) stays ignored.
            if (previous_[i].sa_handler != SIG_IGN) sigaction(SIGNALS[i], &action, nullptr);
        }
        // Past a file size limit, writes fail and are reported like a full disk.
        previousFileSize_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~StopSignals() {
        for (size_t i = 0; i < SIGNAL_COUNT; ++i) sigaction(SIGNALS[i], &previous_[i], nullptr);
        std::signal(SIGXFSZ, previousFileSize_);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Ends the process by the signal that asked for the stop, as it would have without us.
    [[noreturn]] static void endByRequest() {
        const int signal = stopSignal;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        std::_Exit(128 + signal);
    }

  private:
    static constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
    static constexpr size_t SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];
    struct sigaction previous_[SIGNAL_COUNT] {};
    void (*previousFileSize_)(int) = SIG_DFL;
};

// ---------------------------------------------------------------------------
// The progress line on a terminal, redrawn in place a few times a second.
class ProgressLine {
  public:
    ProgressLine(bool shown, const std::string& file, uint32_t showFrames, uint32_t videoFrames)
        : shown_(shown), file_(file), start_(Clock::now()) {
        progress_.showFramesTotal = showFrames;
        progress_.videoFramesTotal = videoFrames;
    }

    void update(uint32_t showFrames, uint32_t videoFrames) {
        if (!shown_) return;
        const auto now = Clock::now();
        if (drawn_ && now - lastDraw_ < PROGRESS_INTERVAL) return;
        lastDraw_ = now;
        drawn_ = true;
        progress_.showFrames = showFrames;
        progress_.videoFrames = videoFrames;
        progress_.seconds = seconds();
        const std::string text = recordProgressText(progress_);
        std::fprintf(stderr, "\rvornak: recording %s%s\033[K", file_.c_str(), text.c_str());
        std::fflush(stderr);
    }
    // Takes the line away before any other message.
    void clear() {
        if (shown_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }
    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    std::string file_;
    RecordProgress progress_;
    Clock::time_point start_;
    Clock::time_point lastDraw_{};
    bool drawn_ = false;
};

// Enlarges RGBA pixels `scale` times by repeating each one (nearest neighbour).
void scalePicture(const uint8_t* source, size_t sourcePitch, int width, int height, int scale,
                  uint8_t* target, size_t targetPitch) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source + size_t(y) * sourcePitch;
        uint8_t* row = target + size_t(y) * size_t(scale) * targetPitch;
        uint8_t* to = row;
        for (int x = 0; x < width; ++x, from += 4) {
            for (int i = 0; i < scale; ++i, to += 4) std::memcpy(to, from, 4);
        }
        for (int i = 1; i < scale; ++i)
            std::memcpy(row + size_t(i) * targetPitch, row, size_t(width) * size_t(scale) * 4);
    }
}

std::string describeSize(long long bytes) {
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
    bool prepare();
    void onFrame(HeadlessConsole& console, uint32_t framesWritten);
    bool writeMoment(const HeadlessConsole& console, uint32_t time);
    int fail(const std::string& message);

    const Options& options_;
    VideoContainer container_;
    uint32_t firstTime_ = 0;
    uint32_t lastTime_ = 0;
    uint32_t nextTime_ = 0;  // the demo time of the next video frame
    int scale_ = 1;
    bool failed_ = false;
    std::string error_;

    MusicReader music_;
    PendingFile file_;
    VideoEncoder encoder_;
    Surface cells_;
    std::vector<uint8_t> look_;    // the console look, LOOK_WIDTH x LOOK_HEIGHT RGBA
    std::vector<uint8_t> scaled_;  // enlarged, when scale_ > 1
    std::vector<int16_t> sound_;   // one frame's music
    std::unique_ptr<ProgressLine> progress_;
};

int Recorder::fail(const std::string& message) {
    if (progress_) progress_->clear();
    std::fprintf(stderr, "vornak: %s\n", message.c_str());
    file_.discard();
    return 1;
}

bool Recorder::prepare() {
    recordStretch(options_.recordFrom, options_.recordTo, firstTime_, lastTime_);
    nextTime_ = firstTime_;
    scale_ = options_.recordScale != 0 ? options_.recordScale : defaultVideoScale(container_);

    VideoSettings settings;
    settings.container = container_;
    settings.width = LOOK_WIDTH * scale_;
    settings.height = LOOK_HEIGHT * scale_;
    settings.framesPerSecond = int(1000 / FRAME_MS);
    settings.sound = !options_.noSound;
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
    if (!encoder_.open(file_.temporaryPath(), settings, error_)) {
        error_ = "cannot record to '" + options_.recordFile + "': " + error_;
        return false;
    }
    cells_.create(CONSOLE_SIZE, 4);
    look_.resize(size_t(LOOK_WIDTH) * LOOK_HEIGHT * 4);
    if (scale_ > 1) scaled_.resize(size_t(settings.width) * size_t(settings.height) * 4);
    return true;
}

// Encodes the picture and the music of the frame at demo time `time`.
bool Recorder::writeMoment(const HeadlessConsole& console, uint32_t time) {
    std::memcpy(cells_.pixels(), console.cells().data(),
                std::min(console.cells().size(), size_t(cells_.pitch()) * size_t(cells_.height())));
    drawConsoleLookInto(cells_, look_.data(), size_t(LOOK_WIDTH) * 4);
    const uint8_t* picture = look_.data();
    size_t pitch = size_t(LOOK_WIDTH) * 4;
    if (scale_ > 1) {
        const size_t scaledPitch = pitch * size_t(scale_);
        scalePicture(picture, pitch, LOOK_WIDTH, LOOK_HEIGHT, scale_, scaled_.data(), scaledPitch);
        picture = scaled_.data();
        pitch = scaledPitch;
    }
    if (!encoder_.writeFrame(picture, pitch, error_)) return false;
    if (options_.noSound) return true;
    const uint64_t from = soundFrameAt(time, music_.rate());
    const size_t frames = size_t(soundFrameAt(time + FRAME_MS, music_.rate()) - from);
    music_.read(sound_.data(), frames);
    return encoder_.writeSound(sound_.data(), frames, error_);
}

void Recorder::onFrame(HeadlessConsole& console, uint32_t framesWritten) {
    const uint32_t now = vornakDemo.demoTime();
    bool done = false;
    if (stopSignal != 0) {
        done = true;
    } else if (now == nextTime_) {
        // The first frame never waits, so the show has two frames at demo time 0
        // (with the same cells); the video holds that moment once.
        if (!writeMoment(console, now)) {
            error_ = "cannot record to '" + options_.recordFile + "': " + error_;
            failed_ = true;
        }
        nextTime_ += FRAME_MS;
        done = failed_ || nextTime_ > lastTime_;
    } else if (now > nextTime_) {
        error_ = "the show skipped the frame of " + std::to_string(nextTime_) + " ms";
        failed_ = done = true;
    }
    progress_->update(framesWritten, (nextTime_ - firstTime_) / FRAME_MS);
    if (done) console.scheduleInput(framesWritten, ESCAPE_DOWN);
}

int Recorder::run() {
    StopSignals stopSignals;
    if (!options_.noSound) {
        std::string problem;
        if (!music_.open(DEMO_MUSIC_FILE, problem)) return fail(problem);
    }
    if (stopSignal != 0) StopSignals::endByRequest();
    if (!prepare()) return fail(error_);

    // Frames of the show up to the last recorded one: two at 0, then one every 20 ms.
    const uint32_t framesToRun = lastTime_ / FRAME_MS + 2;
    progress_ =
        std::make_unique<ProgressLine>(isatty(STDERR_FILENO) == 1, options_.recordFile, framesToRun,
                                       (lastTime_ - firstTime_) / FRAME_MS + 1);
    HeadlessConsole console;
    console.setFrameHook([this, &console](const HeadlessConsole&, uint32_t framesWritten) {
        onFrame(console, framesWritten);
    });
    VirtualClock clock;
    MutedDemo<Demo> demo(vornakDemo);
    vornakDemo.attachPlatform(&clock, nullptr);
    const int shown = runShow(console, clock, demo);
    cells_.release();
    if (stopSignal != 0) {
        progress_->clear();
        file_.discard();
        StopSignals::endByRequest();
    }
    if (shown != 0) return fail(console.text());
    if (failed_) return fail(error_);

    if (!encoder_.finish(error_))
        return fail("cannot record to '" + options_.recordFile + "': " + error_);
    if (stopSignal != 0) {
        progress_->clear();
        file_.discard();
        StopSignals::endByRequest();
    }
    struct stat written {};
    const bool sized = stat(file_.temporaryPath().c_str(), &written) == 0;
    if (!file_.commit(error_))
        return fail("cannot record to '" + options_.recordFile + "': " + error_);

    progress_->clear();
    const uint64_t duration = uint64_t(lastTime_ - firstTime_) + FRAME_MS;
    std::fprintf(stderr, "vornak: recorded %s: %s of video (%s), %s, in %.1f s\n",
                 options_.recordFile.c_str(), describeDuration(duration).c_str(),
                 encoder_.codecNames().c_str(),
                 sized ? describeSize(written.st_size).c_str() : "size unknown",
                 progress_->seconds());
    return 0;
}

#endif  // !_WIN32

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

int runRecordMode(const Options& options) {
    VideoContainer container;
    if (!videoContainerForFile(options.recordFile, container)) {
        std::fprintf(stderr, "vornak: cannot record to '%s': the file name must end in %s\n",
                     options.recordFile.c_str(), supportedVideoExtensions());
        return 2;
    }
#if defined(_WIN32)
    // The recorder writes through POSIX files and signals; the Windows build
    // has no video encoders either.
    std::fprintf(stderr, "vornak: this build cannot record videos\n");
    return 1;
#else
    Recorder recorder(options, container);
    return recorder.run();
#endif
}
