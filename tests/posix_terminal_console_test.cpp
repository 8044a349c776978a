// The terminal backend in a child process on a pseudo-terminal: what it sends,
// and how it leaves the terminal after signals and keys.
#include "platform/posix_terminal_console.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/program_on_pty.h"

namespace {

constexpr std::string_view LEAVE = "\x1b[?25h\x1b[?1049l";

enum class ChildMode { Wait, Frames, ChangingFrames };

// Runs in the child: a title, a start-up line and one frame, then a ready byte
// on `ready`; then either waits for signals or draws a frame every 10 ms until
// Escape (the same frame, or one in which every cell changes).
[[noreturn]] void runChild(int ready, ChildMode mode) {
    setenv("TERM", "xterm-256color", 1);
    PosixTerminalConsole console(TerminalColors::TrueColor);
    if (!console.open()) _exit(3);
    console.setTitle("VORNAK test");
    console.setScreenBufferSize(80, 50);
    console.flushInput();
    console.writeText("Initialize VORNAK... ", 21);
    std::vector<uint8_t> row(80 * 4, 0);
    for (size_t i = 0; i < 80; ++i) {
        row[i * 4] = 'a' + i % 26;
        row[i * 4 + 2] = 0x1E;
    }
    auto frame = [&] {
        console.beginFrame();
        for (int16_t r = 0; r < 50; ++r) console.writeCellRow(r, row.data(), 80);
        console.endFrame();
    };
    frame();
    if (write(ready, "r", 1) != 1) _exit(4);
    if (mode == ChildMode::Wait) {
        for (;;) pause();
    }
    for (;;) {
        bool escape = false;
        for (uint32_t n = console.pendingInputEvents(); n > 0; --n) {
            ConsoleInputEvent event;
            if (console.readInputEvent(event) && event.virtualKeyCode == CONSOLE_VK_ESCAPE &&
                event.keyDown == 1) {
                escape = true;
            }
        }
        if (escape) break;
        if (mode == ChildMode::ChangingFrames) {
            for (size_t i = 0; i < 80; ++i)
                row[i * 4] = static_cast<uint8_t>('a' + (row[i * 4] - 'a' + 7) % 26);
        }
        frame();
        usleep(10000);
    }
    console.close();
    _exit(0);
}

class TerminalChild : public ::testing::Test {
  protected:
    void SetUp() override {
        winsize size{};
        size.ws_col = 80;
        size.ws_row = 50;
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, &size), 0);
        ASSERT_EQ(tcgetattr(slave_, &before_), 0);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(master_);
        close(slave_);
    }

    void start(ChildMode mode) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            close(pipeFds[0]);
            close(master_);
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            setsid();
            ioctl(slave_, TIOCSCTTY, 0);
            dup2(slave_, STDIN_FILENO);
            dup2(slave_, STDOUT_FILENO);
            runChild(pipeFds[1], mode);
        }
        close(pipeFds[1]);
        char byte = 0;
        pollfd fds[2] = {{pipeFds[0], POLLIN, 0}, {master_, POLLIN, 0}};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool ready = false;
        while (!ready && std::chrono::steady_clock::now() < deadline) {
            poll(fds, 2, 100);
            drain();
            if (fds[0].revents & (POLLIN | POLLHUP)) ready = read(pipeFds[0], &byte, 1) == 1;
        }
        close(pipeFds[0]);
        ASSERT_TRUE(ready) << "child did not start";
        readyAt_ = output_.size();
    }

    void drain() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            output_.append(buffer, static_cast<size_t>(n));
        }
    }

    // Reads output until `part` appears after `from`, or a few seconds pass.
    bool waitForOutput(std::string_view part, size_t from) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            drain();
            if (output_.find(part, from) != std::string::npos) return true;
            pollfd fd = {master_, POLLIN, 0};
            poll(&fd, 1, 50);
        }
        return false;
    }

    int waitForChild() {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            drain();
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                drain();
                return status;
            }
            usleep(5000);
        }
        ADD_FAILURE() << "child did not end";
        return -1;
    }

    // Milliseconds until the child ends, without reading its output; -1 after 5 s.
    int64_t millisecondsUntilEnd(int& status) {
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                    .count();
            }
            usleep(1000);
        }
        return -1;
    }

    // Lets the child fill the terminal's buffer while nothing reads it, until
    // the unread output stops growing: the child's writes no longer go through.
    void stallTerminal() {
        int unread = -1;
        for (int i = 0; i < 50; ++i) {
            usleep(100000);
            int now = 0;
            ioctl(master_, FIONREAD, &now);
            if (now == unread && now > 0) return;
            unread = now;
        }
        ADD_FAILURE() << "the terminal's buffer did not fill";
    }

    void sendKeys(std::string_view keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    void expectTermiosRestored() {
        termios after{};
        ASSERT_EQ(tcgetattr(slave_, &after), 0);
        EXPECT_EQ(after.c_lflag, before_.c_lflag);
        EXPECT_EQ(after.c_iflag, before_.c_iflag);
        EXPECT_EQ(after.c_oflag, before_.c_oflag);
        EXPECT_EQ(after.c_cc[VMIN], before_.c_cc[VMIN]);
        EXPECT_EQ(after.c_cc[VTIME], before_.c_cc[VTIME]);
    }

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    termios before_{};
    std::string output_;
    size_t readyAt_ = 0;
};

class TerminalSignal : public TerminalChild, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST_F(TerminalChild, SetUpSendsStartUpLineThenFrameOnAlternateScreen) {
    start(ChildMode::Wait);
    const size_t title = output_.find("\x1b]0;VORNAK test\x07");
    const size_t line = output_.find("Initialize VORNAK... ");
    const size_t enter = output_.find("\x1b[?1049h\x1b[?25l");
    const size_t frame = output_.find("\x1b[?2026h", enter);
    ASSERT_NE(title, std::string::npos);
    ASSERT_NE(line, std::string::npos);
    ASSERT_NE(enter, std::string::npos);
    ASSERT_NE(frame, std::string::npos);
    EXPECT_LT(title, line);
    EXPECT_LT(line, enter);
    EXPECT_NE(output_.find("\x1b[38;2;255;255;0;48;2;0;0;128mabc", frame), std::string::npos);

    termios raw{};
    ASSERT_EQ(tcgetattr(slave_, &raw), 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_NE(raw.c_lflag & ISIG, 0u);   // Ctrl-C, Ctrl-Z, Ctrl-\ still raise signals
    EXPECT_EQ(raw.c_oflag & ONLCR, 0u);  // frames' line feeds reach the terminal as they are
}

TEST_P(TerminalSignal, RestoresTerminalThenTakesDefaultAction) {
    const int sig = GetParam();
    start(ChildMode::Wait);
    ASSERT_EQ(kill(pid_, sig), 0);
    const int status = waitForChild();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), sig);

    const std::string tail = output_.substr(readyAt_);
    const size_t leave = tail.find(LEAVE);
    ASSERT_NE(leave, std::string::npos) << "no restore sequence after the frame";
    // After leaving the alternate screen: only the title and a line end.
    EXPECT_EQ(tail.substr(leave), std::string(LEAVE) + "\x1b[23;0t\r\n");
    expectTermiosRestored();
}

// Every signal whose default action ends the process (SIGINT, Ctrl-C, first
// asks for an orderly end; SIGTSTP stops, see below).
INSTANTIATE_TEST_SUITE_P(Signals, TerminalSignal,
                         ::testing::Values(SIGHUP, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS,
                                           SIGFPE, SIGSEGV, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                                           SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(TerminalChild, CtrlCEndsInOrderLikeEscape) {
    start(ChildMode::Frames);
    sendKeys("\x03");
    const int status = waitForChild();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(output_.find(LEAVE, readyAt_), std::string::npos);
    expectTermiosRestored();
}

TEST_F(TerminalChild, LoneEscapeEndsButArrowKeysDoNot) {
    start(ChildMode::Frames);
    sendKeys("\x1b[A\x1bOP\x1b[15~");
    usleep(200000);
    ASSERT_EQ(waitpid(pid_, nullptr, WNOHANG), 0) << "a key sequence was taken for Escape";
    sendKeys("\x1b");
    const int status = waitForChild();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expectTermiosRestored();
}

TEST_F(TerminalChild, SuspendRestoresAndResumeRedrawsFully) {
    start(ChildMode::Frames);
    // The child leads an orphaned process group, where the stop itself is
    // discarded: the handler restores, "stops" and re-enters at once.
    ASSERT_EQ(kill(pid_, SIGTSTP), 0);
    ASSERT_TRUE(waitForOutput("\x1b[?1049h", readyAt_));
    const size_t leave = output_.find(LEAVE, readyAt_);
    const size_t enter = output_.find("\x1b[?1049h\x1b[?25l", readyAt_);
    ASSERT_NE(leave, std::string::npos);
    EXPECT_LT(leave, enter);
    ASSERT_TRUE(waitForOutput("\x1b[2J", enter));  // the next frame repaints everything

    termios raw{};
    ASSERT_EQ(tcgetattr(slave_, &raw), 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);

    sendKeys("\x1b");
    const int status = waitForChild();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    expectTermiosRestored();
}

TEST_F(TerminalChild, ResizeRedrawsFully) {
    start(ChildMode::Frames);
    // Frames of unchanged cells send nothing until the size changes.
    winsize size{};
    size.ws_col = 60;
    size.ws_row = 30;
    ASSERT_EQ(ioctl(master_, TIOCSWINSZ, &size), 0);  // the child gets SIGWINCH
    ASSERT_TRUE(waitForOutput("\x1b[2J", readyAt_));
    const std::string repaint = output_.substr(output_.find("\x1b[2J", readyAt_));
    EXPECT_EQ(repaint.find("\x1b[31;"), std::string::npos);  // nothing below row 30
    sendKeys("\x1b");
    waitForChild();
}

TEST_F(TerminalChild, SecondInterruptEndsAtOnceAndRestores) {
    start(ChildMode::Wait);  // a show that does not react to the first Ctrl-C
    ASSERT_EQ(kill(pid_, SIGINT), 0);
    usleep(50000);
    ASSERT_EQ(waitpid(pid_, nullptr, WNOHANG), 0) << "the first Ctrl-C ended the process";
    ASSERT_EQ(kill(pid_, SIGINT), 0);
    const int status = waitForChild();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_NE(output_.find(LEAVE, readyAt_), std::string::npos);
    expectTermiosRestored();
}

TEST_F(TerminalChild, TerminationIsHonouredWhenTheTerminalReadsNothing) {
    start(ChildMode::ChangingFrames);
    stallTerminal();
    ASSERT_EQ(kill(pid_, SIGTERM), 0);
    int status = 0;
    const int64_t elapsed = millisecondsUntilEnd(status);
    ASSERT_GE(elapsed, 0) << "still running 5 s after SIGTERM";
    EXPECT_LT(elapsed, 500);
    RecordProperty("milliseconds_to_end", static_cast<int>(elapsed));
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    expectTermiosRestored();
}

TEST_F(TerminalChild, CtrlCEndsInOrderWhenTheTerminalReadsNothing) {
    start(ChildMode::ChangingFrames);
    stallTerminal();
    sendKeys("\x03");
    int status = 0;
    const int64_t elapsed = millisecondsUntilEnd(status);
    ASSERT_GE(elapsed, 0) << "still running 5 s after Ctrl-C";
    EXPECT_LT(elapsed, 500);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expectTermiosRestored();
}

TEST_F(TerminalChild, SequenceCutShortIsCancelledBeforeTheRestore) {
    start(ChildMode::ChangingFrames);
    stallTerminal();  // the frame being written stops part-way
    const size_t before = output_.size();
    ASSERT_EQ(kill(pid_, SIGTERM), 0);
    const int status = waitForChild();  // reads again meanwhile
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    const std::string restore = "\x18\x1b[?2026l\x1b[0m\x1b[?7h" + std::string(LEAVE);
    const size_t at = output_.find(restore, before);
    ASSERT_NE(at, std::string::npos) << "no cancel and restore after the cut frame";
    EXPECT_EQ(output_.substr(at + restore.size()), "\x1b[23;0t\r\n");
    expectTermiosRestored();
}

// The program on a terminal type that cannot place the cursor, and in a
// locale that is not UTF-8.
class ProgramOnTerminal : public TerminalChild {
  protected:
    // Starts the program with `environment` (NAME=VALUE, or NAME alone to unset it).
    void startProgram(std::vector<std::string> environment, std::vector<std::string> arguments) {
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) execProgramOnTerminal(master_, slave_, environment, std::move(arguments));
    }
};

TEST_F(ProgramOnTerminal, TerminalWithoutCursorAddressingGetsOneLineAndStatus1) {
    for (const char* term : {"TERM=dumb", "TERM", "TERM=no-such-terminal-type"}) {
        output_.clear();
        startProgram({term, "LC_ALL=C.UTF-8"}, {"--no-sound"});
        const int status = waitForChild();
        ASSERT_TRUE(WIFEXITED(status)) << term;
        EXPECT_EQ(WEXITSTATUS(status), 1) << term;
        // One line, and nothing sent that a dumb terminal would print as garbage.
        EXPECT_EQ(output_.find("vornak: needs a terminal that can place the cursor; TERM is "), 0u)
            << output_;
        EXPECT_EQ(output_.find('\n'), output_.size() - 1) << output_;
        EXPECT_EQ(output_.find('\x1b'), std::string::npos) << term;
        expectTermiosRestored();
    }
    EXPECT_FALSE(terminalTypeHasCursorAddressing(nullptr));
    EXPECT_FALSE(terminalTypeHasCursorAddressing(""));
    EXPECT_FALSE(terminalTypeHasCursorAddressing("unknown"));
    EXPECT_TRUE(terminalTypeHasCursorAddressing("xterm-256color"));
    EXPECT_TRUE(terminalTypeHasCursorAddressing("tmux-256color"));
    EXPECT_TRUE(terminalTypeHasCursorAddressing("linux"));
}

TEST_F(ProgramOnTerminal, LocaleThatIsNotUtf8GetsAStartUpLine) {
    startProgram({"TERM=xterm-256color", "LC_ALL", "LC_CTYPE", "LANG=C"}, {"--no-sound"});
    ASSERT_TRUE(waitForOutput("Start in 3 seconds", 0)) << output_;
    sendKeys("\x1b");
    const int status = waitForChild();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    const size_t first = output_.find("Initialize VORNAK... ");
    const size_t notice = output_.find(
        "\r\nThe locale (C) is not UTF-8: the picture is sent as UTF-8 and may show wrong "
        "characters; set a UTF-8 locale, e.g. export LC_ALL=C.UTF-8\r\n");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(notice, std::string::npos) << output_;
    EXPECT_LT(first, notice);
}

TEST(TerminalLocale, OnlyLocalesThatAreNotUtf8GetTheNotice) {
    struct Saved {
        const char* name;
        std::string value;
        bool set;
    } saved[] = {{"LC_ALL", "", false}, {"LC_CTYPE", "", false}, {"LANG", "", false}};
    for (Saved& variable : saved) {
        if (const char* value = std::getenv(variable.name)) {
            variable.value = value;
            variable.set = true;
        }
        unsetenv(variable.name);
    }
    setenv("LANG", "C", 1);
    EXPECT_NE(nonUtf8LocaleNotice().find("The locale (C) is not UTF-8"), std::string::npos);
    unsetenv("LANG");
    EXPECT_NE(nonUtf8LocaleNotice().find("The locale (none set) is not UTF-8"), std::string::npos);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("LANG", "C", 1);
    EXPECT_EQ(nonUtf8LocaleNotice(), "");  // LC_ALL wins
    // Not installed here: its name still says UTF-8, or not.
    setenv("LC_ALL", "xx_YY.utf8", 1);
    EXPECT_EQ(nonUtf8LocaleNotice(), "");
    setenv("LC_ALL", "xx_YY.ISO-8859-1", 1);
    EXPECT_NE(nonUtf8LocaleNotice().find("(xx_YY.ISO-8859-1) is not UTF-8"), std::string::npos);
    for (const Saved& variable : saved) {
        if (variable.set) {
            setenv(variable.name, variable.value.c_str(), 1);
        } else {
            unsetenv(variable.name);
        }
    }
}
