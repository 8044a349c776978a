#include "platform/posix_terminal_console.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix_clock.h"

namespace {

// Entering the show screen, and leaving it in reverse order: alternate screen,
// hidden cursor, no automatic wrap at the right margin.
constexpr std::string_view ENTER_SHOW_SCREEN = "\x1b[?1049h\x1b[?25l\x1b[?7l";
constexpr std::string_view LEAVE_SHOW_SCREEN = "\x1b[?2026l\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";
constexpr std::string_view SHOW_CURSOR = "\x1b[?25h";
constexpr std::string_view PUSH_TITLE = "\x1b[22;0t";
constexpr std::string_view POP_TITLE = "\x1b[23;0t";

constexpr int TERMINATION_SIGNALS[] = {SIGTERM, SIGHUP, SIGQUIT};
constexpr int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr int OTHER_SIGNALS[] = {SIGINT, SIGTSTP, SIGWINCH, SIGCONT};

// Everything the signal handlers need. Only async-signal-safe calls touch it
// from a handler.
struct TerminalState {
    termios saved;  // as found
    termios raw;    // for the show
    volatile sig_atomic_t open = 0;
    volatile sig_atomic_t termiosChanged = 0;
    volatile sig_atomic_t titleSet = 0;
    volatile sig_atomic_t showScreen = 0;   // the alternate screen is entered
    volatile sig_atomic_t atLineStart = 1;  // the normal screen's cursor is in column 0
    volatile sig_atomic_t redraw = 1;       // size unknown or screen content lost
    volatile sig_atomic_t interrupts = 0;   // Ctrl-C presses
    char title[256];
    size_t titleLength = 0;
};

TerminalState g_terminal;
struct sigaction g_previousActions[NSIG];
stack_t g_previousAltStack;
alignas(16) char g_altStack[65536];

void writeAll(std::string_view bytes) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(STDOUT_FILENO, data, left);
        if (written > 0) {
            data += written;
            left -= static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd output = {STDOUT_FILENO, POLLOUT, 0};
            poll(&output, 1, 100);
        } else {
            return;  // the terminal is gone; nothing more can be shown
        }
    }
}

void sendTitle() {
    writeAll(PUSH_TITLE);
    writeAll("\x1b]0;");
    writeAll({g_terminal.title, g_terminal.titleLength});
    writeAll("\x07");
    g_terminal.titleSet = 1;
}

void enterShowScreen() {
    writeAll(ENTER_SHOW_SCREEN);
    g_terminal.showScreen = 1;
    g_terminal.redraw = 1;
}

// Undoes the set-up in reverse order. Async-signal-safe; the flags tell what
// was done, so restoring twice sends nothing the second time but show-cursor.
void restoreTerminal() {
    if (g_terminal.showScreen) {
        writeAll(LEAVE_SHOW_SCREEN);
        g_terminal.showScreen = 0;
    } else {
        writeAll(SHOW_CURSOR);
    }
    if (g_terminal.titleSet) {
        writeAll(POP_TITLE);
        g_terminal.titleSet = 0;
    }
    if (!g_terminal.atLineStart) {
        writeAll("\n");
        g_terminal.atLineStart = 1;
    }
    if (g_terminal.termiosChanged) {
        tcsetattr(STDIN_FILENO, TCSADRAIN, &g_terminal.saved);
        g_terminal.termiosChanged = 0;
    }
}

void applyRawMode() {
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &g_terminal.raw) == 0) g_terminal.termiosChanged = 1;
}

sigset_t deferredSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : TERMINATION_SIGNALS) sigaddset(&set, sig);
    for (int sig : OTHER_SIGNALS) sigaddset(&set, sig);
    return set;
}

// Holds termination, suspend and resize signals back while bytes go to the
// terminal, so that no escape sequence is cut in half.
class SignalBlock {
  public:
    SignalBlock() {
        const sigset_t set = deferredSignals();
        sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

  private:
    sigset_t previous_;
};

void reraiseWithDefaultAction(int sig) {
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

void onTerminationOrCrash(int sig) {
    const int savedErrno = errno;
    restoreTerminal();
    // Default action now: ends the process (and dumps core where that is the default).
    reraiseWithDefaultAction(sig);
    errno = savedErrno;
}

void onInterrupt(int sig) {
    // The first Ctrl-C asks for an orderly end; a second one, if the show did
    // not react, ends it at once.
    if (g_terminal.interrupts == 0) {
        g_terminal.interrupts = 1;
        return;
    }
    onTerminationOrCrash(sig);
}

void installHandler(int sig, void (*handler)(int), int flags);

void onSuspend(int sig) {
    const int savedErrno = errno;
    const bool hadShowScreen = g_terminal.showScreen != 0;
    const bool hadTitle = g_terminal.titleSet != 0;
    const bool hadRawMode = g_terminal.termiosChanged != 0;
    restoreTerminal();
    reraiseWithDefaultAction(sig);  // stops here until SIGCONT

    installHandler(SIGTSTP, onSuspend, SA_RESTART);
    if (hadRawMode) applyRawMode();
    if (hadTitle) sendTitle();
    if (hadShowScreen) enterShowScreen();
    g_terminal.redraw = 1;
    errno = savedErrno;
}

void onResizeOrResume(int) {
    g_terminal.redraw = 1;
}

void installHandler(int sig, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigfillset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

void installHandlers() {
    stack_t altStack{};
    altStack.ss_sp = g_altStack;
    altStack.ss_size = sizeof g_altStack;
    sigaltstack(&altStack, &g_previousAltStack);

    for (int sig : TERMINATION_SIGNALS) sigaction(sig, nullptr, &g_previousActions[sig]);
    for (int sig : CRASH_SIGNALS) sigaction(sig, nullptr, &g_previousActions[sig]);
    for (int sig : OTHER_SIGNALS) sigaction(sig, nullptr, &g_previousActions[sig]);

    for (int sig : TERMINATION_SIGNALS) installHandler(sig, onTerminationOrCrash, 0);
    // A crash may be a stack overflow: handle it on a stack of its own.
    for (int sig : CRASH_SIGNALS) installHandler(sig, onTerminationOrCrash, SA_ONSTACK);
    installHandler(SIGINT, onInterrupt, SA_RESTART);
    installHandler(SIGTSTP, onSuspend, SA_RESTART);
    installHandler(SIGWINCH, onResizeOrResume, SA_RESTART);
    installHandler(SIGCONT, onResizeOrResume, SA_RESTART);
}

void removeHandlers() {
    for (int sig : TERMINATION_SIGNALS) sigaction(sig, &g_previousActions[sig], nullptr);
    for (int sig : CRASH_SIGNALS) sigaction(sig, &g_previousActions[sig], nullptr);
    for (int sig : OTHER_SIGNALS) sigaction(sig, &g_previousActions[sig], nullptr);
    sigaltstack(&g_previousAltStack, nullptr);
}

void queryTerminalSize(int16_t& columns, int16_t& rows) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        columns = static_cast<int16_t>(std::min<unsigned>(size.ws_col, 32767));
        rows = static_cast<int16_t>(std::min<unsigned>(size.ws_row, 32767));
    } else {
        columns = 80;  // unknown: assume the full screen fits
        rows = 50;
    }
}

}  // namespace

PosixTerminalConsole::PosixTerminalConsole(TerminalColors colors)
    : colors_(chooseTerminalColors(colors, std::getenv("COLORTERM"), std::getenv("TERM"))) {
    setScreenBufferSize(80, 50);
}

PosixTerminalConsole::~PosixTerminalConsole() {
    close();
}

bool PosixTerminalConsole::open() {
    if (open_ || g_terminal.open) return false;
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return false;
    if (tcgetattr(STDIN_FILENO, &g_terminal.saved) != 0) return false;

    // Raw, non-blocking keys; ISIG stays so that Ctrl-C, Ctrl-Z and Ctrl-\ still
    // raise signals, and OPOST so that text lines end as usual.
    g_terminal.raw = g_terminal.saved;
    g_terminal.raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    g_terminal.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    g_terminal.raw.c_cc[VMIN] = 0;
    g_terminal.raw.c_cc[VTIME] = 0;

    SignalBlock block;
    g_terminal.open = 1;
    g_terminal.showScreen = 0;
    g_terminal.titleSet = 0;
    g_terminal.atLineStart = 1;
    g_terminal.redraw = 1;
    g_terminal.interrupts = 0;
    interruptsSeen_ = 0;
    installHandlers();
    applyRawMode();
    open_ = true;
    return true;
}

void PosixTerminalConsole::close() {
    if (!open_) return;
    {
        SignalBlock block;
        restoreTerminal();
        removeHandlers();
        g_terminal.open = 0;
    }
    open_ = false;
}

void PosixTerminalConsole::setTitle(const char* title) {
    if (!open_) return;
    SignalBlock block;
    const size_t length = std::min(std::strlen(title), sizeof g_terminal.title);
    // Control characters would end the title sequence early.
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(title[i]);
        g_terminal.title[i] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    }
    g_terminal.titleLength = length;
    if (g_terminal.titleSet) {
        writeAll("\x1b]0;");
        writeAll({g_terminal.title, g_terminal.titleLength});
        writeAll("\x07");
    } else {
        sendTitle();
    }
}

void PosixTerminalConsole::setScreenBufferSize(int16_t columns, int16_t rows) {
    columns_ = std::max<int16_t>(columns, 1);
    rows_ = std::max<int16_t>(rows, 1);
    screen_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_) * CONSOLE_CELL_BYTES,
                   0);
    encoder_ = std::make_unique<TerminalEncoder>(colors_, columns_, rows_);
    g_terminal.redraw = 1;
    if (!open_) return;

    // The terminal cannot be made bigger; say once what will be cut off.
    int16_t terminalColumns = 0;
    int16_t terminalRows = 0;
    queryTerminalSize(terminalColumns, terminalRows);
    if (terminalColumns >= columns_ && terminalRows >= rows_) return;
    char note[256];
    const int length = std::snprintf(
        note, sizeof note,
        "This terminal is %dx%d; the show needs %dx%d and shows the top-left part.\n"
        "To see it all, enlarge the window or reduce its font size, now or later.\n",
        terminalColumns, terminalRows, columns_, rows_);
    if (length > 0) writeText(note, static_cast<uint32_t>(std::min<int>(length, sizeof note - 1)));
}

void PosixTerminalConsole::flushInput() {
    if (open_) tcflush(STDIN_FILENO, TCIFLUSH);
    keys_.reset();
    eventCount_ = 0;
    eventHead_ = 0;
}

void PosixTerminalConsole::writeText(const char* text, uint32_t length) {
    if (!open_ || length == 0) return;
    SignalBlock block;
    writeAll({text, length});
    if (!g_terminal.showScreen) g_terminal.atLineStart = text[length - 1] == '\n';
}

void PosixTerminalConsole::writeCellRow(int16_t row, const uint8_t* cells, int16_t count) {
    if (row < 0 || row >= rows_ || count <= 0) return;
    const int16_t written = std::min(count, columns_);
    std::memcpy(
        &screen_[static_cast<size_t>(row) * static_cast<size_t>(columns_) * CONSOLE_CELL_BYTES],
        cells, static_cast<size_t>(written) * CONSOLE_CELL_BYTES);
    // A row written outside a frame goes out at once, as on the console.
    if (!inFrame_) flushFrame();
}

void PosixTerminalConsole::beginFrame() {
    inFrame_ = true;
}

void PosixTerminalConsole::endFrame() {
    inFrame_ = false;
    flushFrame();
}

void PosixTerminalConsole::flushFrame() {
    if (!open_) return;
    SignalBlock block;
    if (!g_terminal.showScreen) enterShowScreen();
    if (g_terminal.redraw) {
        g_terminal.redraw = 0;
        int16_t terminalColumns = 0;
        int16_t terminalRows = 0;
        queryTerminalSize(terminalColumns, terminalRows);
        encoder_->setTerminalSize(terminalColumns, terminalRows);
    }
    writeAll(encoder_->encodeFrame(screen_.data(), columns_ * CONSOLE_CELL_BYTES));
}

void PosixTerminalConsole::queueEscape() {
    if (eventCount_ == EVENT_QUEUE_SIZE) return;
    ConsoleInputEvent& event = events_[(eventHead_ + eventCount_) % EVENT_QUEUE_SIZE];
    event.eventType = CONSOLE_KEY_EVENT;
    event.keyDown = 1;
    event.virtualKeyCode = CONSOLE_VK_ESCAPE;
    ++eventCount_;
}

uint32_t PosixTerminalConsole::pendingInputEvents() {
    if (!open_) return 0;
    int presses = 0;
    uint8_t bytes[256];
    bool anyRead = false;
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0) break;
        presses += keys_.feed(bytes, static_cast<size_t>(count), posixTickCount());
        anyRead = true;
    }
    if (!anyRead) presses += keys_.poll(posixTickCount());
    if (g_terminal.interrupts != 0 && interruptsSeen_ == 0) {
        interruptsSeen_ = 1;
        ++presses;
    }
    for (int i = 0; i < presses; ++i) queueEscape();
    return static_cast<uint32_t>(eventCount_);
}

bool PosixTerminalConsole::readInputEvent(ConsoleInputEvent& event) {
    if (eventCount_ == 0) return false;
    event = events_[eventHead_];
    eventHead_ = (eventHead_ + 1) % EVENT_QUEUE_SIZE;
    --eventCount_;
    return true;
}
