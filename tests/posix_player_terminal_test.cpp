// The real program on a terminal larger than the picture, driven by keys sent
// as bytes: the status line, a pause, a seek while paused. The terminal (as
// libvterm reads it) then shows the frame of the offline runs at the time the
// status line reports, centred, and the show plays on and ends on its key.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "program/offline_frames.h"
#include "program/player.h"
#include "tests/program_on_pty.h"
#include "tests/vterm_screen.h"

namespace {

constexpr int TERMINAL_COLUMNS = 82;
constexpr int TERMINAL_ROWS = 52;

class ProgramChild {
  public:
    explicit ProgramChild(std::vector<std::string> arguments) {
        winsize size{};
        size.ws_col = TERMINAL_COLUMNS;
        size.ws_row = TERMINAL_ROWS;
        if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        pid_ = fork();
        if (pid_ == 0) {
            execProgramOnTerminal(master_, slave_, {"TERM=xterm-256color", "LANG=C.UTF-8"},
                                  std::move(arguments));
        }
    }
    ~ProgramChild() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }

    bool started() const { return pid_ > 0; }
    void send(std::string_view bytes) { (void)!write(master_, bytes.data(), bytes.size()); }
    // Reads what the program writes for `ms` milliseconds, or until `until` appears.
    void read(int ms, std::string_view until = {}) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            char buffer[65536];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                output.append(buffer, size_t(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!until.empty() && output.find(until) != std::string::npos) return;
        }
    }
    // The exit status once the program has ended (within five seconds), or -1.
    int exitStatus() {
        int status = 0;
        for (int i = 0; i < 500 && !exited_; ++i) {
            exited_ = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!exited_) read(10);
        }
        return exited_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output;

  private:
    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
};

// The offline runs' cells at grid time t.
std::vector<uint8_t> gridCells(uint32_t t) {
    OfflineFrames<Demo> frames(vornakDemo);
    if (!frames.start()) return {};
    while (const OfflineFrame* frame = frames.next()) {
        if (frame->demoTime == t && frames.framesRun() > 1)
            return {frame->cells->pixels(), frame->cells->pixels() + 80 * 50 * 4};
    }
    return {};
}

}  // namespace

TEST(PlayerOnTerminal, PausedSeekShowsTheGridFrameOfTheReportedTime) {
    ProgramChild program({"--no-sound", "--colors=truecolor", "--start=1:00"});
    ASSERT_TRUE(program.started());
    program.read(60000, "\x1b[?1049h");
    ASSERT_NE(program.output.find("\x1b[?1049h"), std::string::npos) << "the show did not begin";
    program.read(400);
    for (std::string_view key : {"i", " ", "\x1b[C", "."}) {
        program.send(key);
        program.read(400);
    }

    Emulator screen(TERMINAL_ROWS, TERMINAL_COLUMNS);
    size_t fed = 0;
    std::string status;
    uint32_t t = 0;
    // Until the keys have been handled and nothing more comes: a seek can take a
    // while where the records of the show's state are still being kept (a
    // sanitizer build).
    for (int reads = 0; reads < 200; ++reads) {
        const bool quiet = reads > 0 && fed == program.output.size();  // every key handled
        screen.feed(std::string_view(program.output).substr(fed));
        fed = program.output.size();
        // The status line, on the row below the centred picture.
        status.clear();
        for (int column = 0; column < TERMINAL_COLUMNS; ++column) {
            bool single = true;
            const char32_t c = screen.look(51, column, single).character;
            status += c >= 0x20 && c < 0x7F ? char(c) : ' ';
        }
        unsigned minutes = 0, seconds = 0, hundredths = 0;
        if (std::sscanf(status.c_str(), " %u:%u.%u", &minutes, &seconds, &hundredths) == 3)
            t = (minutes * 60 + seconds) * 1000 + hundredths * 10;
        if (quiet && t >= 65020 && status.find("paused") != std::string::npos) break;
        program.read(300);
    }
    EXPECT_NE(status.find("paused"), std::string::npos) << status;
    EXPECT_EQ(t % FRAME_MS, 0u);
    EXPECT_GE(t, 65020u);  // 1:00, played a little, paused, 5 s on and one frame
    EXPECT_LT(t, 70000u);

    const std::vector<uint8_t> cells = gridCells(t);
    ASSERT_EQ(cells.size(), size_t{80 * 50 * 4});
    int mismatches = 0;
    for (int row = 0; row < 50; ++row) {
        for (int column = 0; column < 80; ++column) {
            bool single = true;
            const Look shown = screen.look(row + 1, column + 1, single);
            const Look intended =
                cellLook(TerminalColors::TrueColor, &cells[size_t(row * 80 + column) * 4]);
            if (shown != intended && ++mismatches <= 3)
                ADD_FAILURE() << "row " << row << ", column " << column << ": shows "
                              << describe(shown) << ", intended " << describe(intended);
        }
    }
    EXPECT_EQ(mismatches, 0);

    program.send(" ");
    program.read(300);
    program.send("q");
    EXPECT_EQ(program.exitStatus(), 0);
}
