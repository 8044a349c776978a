#include "platform/posix_terminal_console.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
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
// Cancels an escape sequence (or character) that was cut short, so that the
// terminal reads what follows as it is meant.
constexpr char CANCEL = 0x18;

// How long giving the terminal back may wait for a terminal that reads
// nothing: a termination request is then still honoured at once.
constexpr int RESTORE_TIMEOUT_MS = 150;
// How long closing waits for output still queued before it is dropped.
constexpr int FLUSH_TIMEOUT_MS = 150;

// Every signal whose default action ends the process (besides SIGINT, which
// first asks for an orderly end, and the crash signals below).
constexpr int TERMINATION_SIGNALS[] = {SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,   SIGPIPE, SIGALRM,
                                       SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};
constexpr int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr int OTHER_SIGNALS[] = {SIGINT, SIGTSTP, SIGWINCH, SIGCONT};

// Everything the signal handlers need. Only async-signal-safe calls touch it
// from a handler.
struct TerminalState {
    termios saved;               // as found
    termios raw;                 // for the start-up lines: keys raw
    termios show;                // for frames: also line feeds sent as they are (no CR added)
    int output = -1;             // non-blocking descriptor for the terminal
    bool ownOutput = false;      // `output` was opened here (else it is standard output)
    int outputFlagsBefore = -1;  // standard output's flags to put back, -1: unchanged
    volatile sig_atomic_t open = 0;
    volatile sig_atomic_t termiosChanged = 0;
    volatile sig_atomic_t titleSet = 0;
    volatile sig_atomic_t showScreen = 0;   // the alternate screen is entered
    volatile sig_atomic_t atLineStart = 1;  // the normal screen's cursor is in column 0
    volatile sig_atomic_t redraw = 1;       // size unknown or screen content lost
    volatile sig_atomic_t interrupts = 0;   // Ctrl-C presses
    char title[256];
    size_t titleLength = 0;
    // Bytes accepted but not yet taken by the terminal, [queueHead, queueTail)
    // of `queue`. Changed only with the deferred signals blocked; a handler
    // that gives the terminal back drops them.
    char* queue = nullptr;
    size_t queueCapacity = 0;
    volatile size_t queueHead = 0;
    volatile size_t queueTail = 0;
    volatile sig_atomic_t outputGone = 0;  // the terminal takes no more bytes
};

TerminalState g_terminal;
std::vector<char> g_queueStorage;
struct sigaction g_previousActions[NSIG];
bool g_handled[NSIG];
stack_t g_previousAltStack;
alignas(16) char g_altStack[65536];

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Writes to the non-blocking terminal descriptor, waiting for room until
// `deadlineMs` (monotonic; -1: no limit). Answers how many bytes went out.
// Async-signal-safe.
size_t writeUntil(const char* data, size_t size, int64_t deadlineMs) {
    size_t done = 0;
    while (done < size && !g_terminal.outputGone) {
        const ssize_t written = write(g_terminal.output, data + done, size - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int wait = -1;
            if (deadlineMs >= 0) {
                const int64_t left = deadlineMs - monotonicMs();
                if (left <= 0) break;
                wait = static_cast<int>(left);
            }
            pollfd output = {g_terminal.output, POLLOUT, 0};
            poll(&output, 1, wait);
            continue;
        }
        g_terminal.outputGone = 1;  // the terminal is gone; nothing more can be shown
    }
    return done;
}

bool queueEmpty() {
    return g_terminal.queueHead == g_terminal.queueTail;
}

// Sends what the terminal takes now from the queue, without waiting.
void pumpQueue() {
    const size_t head = g_terminal.queueHead;
    const size_t tail = g_terminal.queueTail;
    if (head == tail) return;
    const size_t sent = writeUntil(g_terminal.queue + head, tail - head, 0);
    if (head + sent == tail || g_terminal.outputGone) {
        g_terminal.queueHead = 0;
        g_terminal.queueTail = 0;
    } else {
        g_terminal.queueHead = head + sent;
    }
}

// Queues bytes behind those waiting and sends what the terminal takes now.
void queueOutput(std::string_view bytes) {
    if (bytes.empty() || g_terminal.outputGone) return;
    size_t head = g_terminal.queueHead;
    size_t tail = g_terminal.queueTail;
    if (tail + bytes.size() > g_terminal.queueCapacity) {
        // Move the waiting bytes to the front, growing the storage if they still do not fit.
        std::memmove(g_terminal.queue, g_terminal.queue + head, tail - head);
        tail -= head;
        head = 0;
        if (tail + bytes.size() > g_queueStorage.size()) {
            g_queueStorage.resize(tail + bytes.size());
            g_terminal.queue = g_queueStorage.data();
            g_terminal.queueCapacity = g_queueStorage.size();
        }
    }
    std::memcpy(g_terminal.queue + tail, bytes.data(), bytes.size());
    g_terminal.queueHead = head;
    g_terminal.queueTail = tail + bytes.size();
    pumpQueue();
}

// Sends bytes now, waiting as long as the terminal needs (start-up text: the
// signals are not held back meanwhile). Behind queued bytes they are queued.
void sendNow(std::string_view bytes) {
    if (!queueEmpty()) {
        queueOutput(bytes);
        return;
    }
    writeUntil(bytes.data(), bytes.size(), -1);
}

// Adds bytes to a fixed buffer, as far as they fit. Async-signal-safe.
struct RestoreBuffer {
    char bytes[128];
    size_t length = 0;
    void add(std::string_view text) {
        const size_t n = std::min(text.size(), sizeof bytes - length);
        std::memcpy(bytes + length, text.data(), n);
        length += n;
    }
};

constexpr int64_t QUEUE_IT = -2;

// Saves the title and sets the show's: queued (QUEUE_IT), or written by `deadlineMs`.
void sendTitle(int64_t deadlineMs) {
    char bytes[sizeof g_terminal.title + 16];
    size_t length = 0;
    for (std::string_view part :
         {PUSH_TITLE, std::string_view("\x1b]0;"),
          std::string_view(g_terminal.title, g_terminal.titleLength), std::string_view("\x07")}) {
        std::memcpy(bytes + length, part.data(), part.size());
        length += part.size();
    }
    if (deadlineMs == QUEUE_IT) {
        queueOutput({bytes, length});
    } else {
        writeUntil(bytes, length, deadlineMs);
    }
    g_terminal.titleSet = 1;
}

// Undoes the set-up in reverse order, waiting at most `timeoutMs` for the
// terminal to take the bytes. Bytes still queued are dropped, and a sequence
// they cut short is cancelled first. Async-signal-safe; the flags tell what
// was done, so restoring twice sends nothing the second time but show-cursor.
void restoreTerminal(int timeoutMs) {
    RestoreBuffer restore;
    if (!queueEmpty()) {
        g_terminal.queueHead = 0;
        g_terminal.queueTail = 0;
        restore.add({&CANCEL, 1});
    }
    if (g_terminal.showScreen) {
        restore.add(LEAVE_SHOW_SCREEN);
        g_terminal.showScreen = 0;
    } else {
        restore.add(SHOW_CURSOR);
    }
    if (g_terminal.titleSet) {
        restore.add(POP_TITLE);
        g_terminal.titleSet = 0;
    }
    if (!g_terminal.atLineStart) {
        restore.add("\n");
        g_terminal.atLineStart = 1;
    }
    // First, so that the last line end is sent as the terminal was set; and
    // now, not after the output drains: the terminal may not be reading.
    if (g_terminal.termiosChanged) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.saved);
        g_terminal.termiosChanged = 0;
    }
    if (g_terminal.output >= 0) {
        writeUntil(restore.bytes, restore.length, monotonicMs() + timeoutMs);
    }
    // Standard output made non-blocking (no descriptor of its own): as it was.
    if (g_terminal.outputFlagsBefore >= 0)
        fcntl(STDOUT_FILENO, F_SETFL, g_terminal.outputFlagsBefore);
}

void applyRawMode(bool showScreen) {
    if (tcsetattr(STDIN_FILENO, TCSANOW, showScreen ? &g_terminal.show : &g_terminal.raw) == 0) {
        g_terminal.termiosChanged = 1;
    }
}

sigset_t deferredSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : TERMINATION_SIGNALS) sigaddset(&set, sig);
    for (int sig : OTHER_SIGNALS) sigaddset(&set, sig);
    return set;
}

// Holds termination, suspend and resize signals back while the output queue
// and the terminal state change. Nothing waits for the terminal meanwhile, so
// a signal is handled moments later.
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
    restoreTerminal(RESTORE_TIMEOUT_MS);
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
    restoreTerminal(RESTORE_TIMEOUT_MS);
    reraiseWithDefaultAction(sig);  // stops here until SIGCONT

    installHandler(SIGTSTP, onSuspend, SA_RESTART);
    if (hadRawMode) applyRawMode(hadShowScreen);
    if (g_terminal.outputFlagsBefore >= 0) {
        fcntl(STDOUT_FILENO, F_SETFL, g_terminal.outputFlagsBefore | O_NONBLOCK);
    }
    const int64_t deadline = monotonicMs() + RESTORE_TIMEOUT_MS;
    if (hadTitle) sendTitle(deadline);
    if (hadShowScreen) {
        writeUntil(ENTER_SHOW_SCREEN.data(), ENTER_SHOW_SCREEN.size(), deadline);
        g_terminal.showScreen = 1;
    }
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

// Takes over `sig` unless the process was started with it ignored (nohup, a
// background job): an ignored signal stays ignored.
void takeOver(int sig, void (*handler)(int), int flags) {
    sigaction(sig, nullptr, &g_previousActions[sig]);
    g_handled[sig] = g_previousActions[sig].sa_handler != SIG_IGN;
    if (g_handled[sig]) installHandler(sig, handler, flags);
}

void installHandlers() {
    stack_t altStack{};
    altStack.ss_sp = g_altStack;
    altStack.ss_size = sizeof g_altStack;
    sigaltstack(&altStack, &g_previousAltStack);

    for (int sig : TERMINATION_SIGNALS) takeOver(sig, onTerminationOrCrash, 0);
    // A crash may be a stack overflow: handle it on a stack of its own.
    for (int sig : CRASH_SIGNALS) takeOver(sig, onTerminationOrCrash, SA_ONSTACK);
    takeOver(SIGINT, onInterrupt, SA_RESTART);
    takeOver(SIGTSTP, onSuspend, SA_RESTART);
    takeOver(SIGWINCH, onResizeOrResume, SA_RESTART);
    takeOver(SIGCONT, onResizeOrResume, SA_RESTART);
}

void removeHandlers() {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (g_handled[sig]) sigaction(sig, &g_previousActions[sig], nullptr);
        g_handled[sig] = false;
    }
    sigaltstack(&g_previousAltStack, nullptr);
}

// A descriptor of the terminal for non-blocking writes. Preferably a fresh one:
// the flag then does not change standard output, which the shell shares.
bool openOutput() {
    const char* name = ttyname(STDOUT_FILENO);
    if (name != nullptr) {
        const int fd = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            g_terminal.output = fd;
            g_terminal.ownOutput = true;
            g_terminal.outputFlagsBefore = -1;
            return true;
        }
    }
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0 || fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    g_terminal.output = STDOUT_FILENO;
    g_terminal.ownOutput = false;
    g_terminal.outputFlagsBefore = flags;
    return true;
}

void closeOutput() {
    if (g_terminal.ownOutput) {
        ::close(g_terminal.output);
    } else if (g_terminal.outputFlagsBefore >= 0) {
        fcntl(STDOUT_FILENO, F_SETFL, g_terminal.outputFlagsBefore);
    }
    g_terminal.output = -1;
    g_terminal.ownOutput = false;
    g_terminal.outputFlagsBefore = -1;
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

bool terminalTypeHasCursorAddressing(const char* term) {
    if (term == nullptr || term[0] == 0) return false;
    if (std::strcmp(term, "dumb") == 0 || std::strcmp(term, "unknown") == 0) return false;
    // Families that all address the cursor the ANSI way, known here even where
    // their terminfo entries are not installed (an ssh session, a container).
    static constexpr const char* ANSI_FAMILIES[] = {
        "xterm",   "screen",  "tmux",    "rxvt",  "linux", "alacritty", "kitty",  "foot",
        "wezterm", "st-",     "konsole", "gnome", "putty", "ansi",      "mintty", "iterm",
        "contour", "ghostty", "vt1",     "vt2",   "vt3",   "vt4",       "vt5",    "eterm"};
    if (std::strcmp(term, "st") == 0) return true;
    for (const char* family : ANSI_FAMILIES) {
        if (std::strncmp(term, family, std::strlen(family)) == 0) return true;
    }
    // Any other type is known when the system has a terminfo entry for it.
    if (std::strchr(term, '/') != nullptr) return false;
    std::string directories;
    for (const char* variable : {"TERMINFO"}) {
        if (const char* value = std::getenv(variable)) directories.append(value).append(":");
    }
    if (const char* home = std::getenv("HOME")) directories.append(home).append("/.terminfo:");
    if (const char* value = std::getenv("TERMINFO_DIRS")) directories.append(value).append(":");
    directories.append("/etc/terminfo:/lib/terminfo:/usr/share/terminfo:/usr/lib/terminfo");
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string directory = directories.substr(start, end - start);
        start = end + 1;
        if (directory.empty()) continue;
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(term[0]));
        for (const std::string& letter : {std::string(1, term[0]), std::string(hex)}) {
            if (access((directory + "/" + letter + "/" + term).c_str(), R_OK) == 0) return true;
        }
    }
    return false;
}

PosixTerminalConsole::PosixTerminalConsole(TerminalColors colors)
    : colors_(chooseTerminalColors(colors, std::getenv("COLORTERM"), std::getenv("TERM"))) {
    setScreenBufferSize(80, 50);
}

PosixTerminalConsole::~PosixTerminalConsole() {
    close();
}

bool PosixTerminalConsole::open() {
    failure_.clear();
    notice_.clear();
    if (open_ || g_terminal.open) {
        failure_ = "vornak: the terminal is already in use by this program";
        return false;
    }
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) ||
        tcgetattr(STDIN_FILENO, &g_terminal.saved) != 0) {
        failure_ = "vornak: needs a terminal: run it with standard input and output on a terminal";
        return false;
    }
    const char* term = std::getenv("TERM");
    if (!terminalTypeHasCursorAddressing(term)) {
        failure_ = "vornak: needs a terminal that can place the cursor; TERM is ";
        failure_ += term == nullptr || term[0] == 0 ? std::string("not set")
                                                    : "'" + std::string(term) + "'";
        failure_ +=
            ": run it in a terminal emulator, or set TERM to its type (e.g. xterm-256color)";
        return false;
    }
    if (!openOutput()) {
        failure_ = "vornak: cannot write to the terminal";
        return false;
    }
    notice_ = nonUtf8LocaleNotice();

    // Raw, non-blocking keys; ISIG stays so that Ctrl-C, Ctrl-Z and Ctrl-\ still
    // raise signals, and OPOST so that text lines end as usual.
    g_terminal.raw = g_terminal.saved;
    g_terminal.raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    g_terminal.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    g_terminal.raw.c_cc[VMIN] = 0;
    g_terminal.raw.c_cc[VTIME] = 0;
    g_terminal.show = g_terminal.raw;
    g_terminal.show.c_oflag &= ~static_cast<tcflag_t>(ONLCR);

    SignalBlock block;
    if (g_queueStorage.size() < 65536) g_queueStorage.resize(65536);
    g_terminal.queue = g_queueStorage.data();
    g_terminal.queueCapacity = g_queueStorage.size();
    g_terminal.queueHead = 0;
    g_terminal.queueTail = 0;
    g_terminal.outputGone = 0;
    g_terminal.open = 1;
    g_terminal.showScreen = 0;
    g_terminal.titleSet = 0;
    g_terminal.atLineStart = 1;
    g_terminal.redraw = 1;
    g_terminal.interrupts = 0;
    interruptsSeen_ = 0;
    installHandlers();
    applyRawMode(false);
    open_ = true;
    return true;
}

void PosixTerminalConsole::close() {
    if (!open_) return;
    {
        SignalBlock block;
        // What the terminal has not taken yet gets a moment; then it is dropped.
        if (!queueEmpty()) {
            const size_t head = g_terminal.queueHead;
            const size_t sent = writeUntil(g_terminal.queue + head, g_terminal.queueTail - head,
                                           monotonicMs() + FLUSH_TIMEOUT_MS);
            g_terminal.queueHead = head + sent;
        }
        restoreTerminal(RESTORE_TIMEOUT_MS);
        removeHandlers();
        closeOutput();
        g_terminal.open = 0;
    }
    open_ = false;
}

const char* PosixTerminalConsole::startupNotice() const {
    return notice_.empty() ? nullptr : notice_.c_str();
}

std::string nonUtf8LocaleNotice() {
    // The locale the environment asks for, as the C library would take it.
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != 0) {
            name = value;
            break;
        }
    }
    std::string codeset;
    if (locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
        codeset = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
    } else if (name != nullptr) {
        // Not installed here; its name still tells what the terminal uses.
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos) {
            codeset = "UTF-8";
        } else {
            codeset = "unknown";
        }
    }
    if (codeset == "UTF-8") return "";
    std::string notice = "The locale (";
    notice += name == nullptr ? std::string("none set") : name;
    notice += ") is not UTF-8: the picture is sent as UTF-8 and may show wrong characters;";
    notice += " set a UTF-8 locale, e.g. export LC_ALL=C.UTF-8";
    return notice;
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
        queueOutput("\x1b]0;");
        queueOutput({g_terminal.title, g_terminal.titleLength});
        queueOutput("\x07");
    } else {
        sendTitle(QUEUE_IT);
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
    // Plain text: cutting it short harms nothing, so signals are not held back
    // while the terminal takes it.
    sendNow({text, length});
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

// Never waits: while the terminal has not taken the previous frame, a new one
// is skipped (the next one sent carries its changes), so a terminal that
// stops reading does not stop the show from seeing keys and signals.
void PosixTerminalConsole::flushFrame() {
    if (!open_) return;
    SignalBlock block;
    pumpQueue();
    if (!queueEmpty()) return;
    if (!g_terminal.showScreen) {
        // The encoder's line feeds keep the column: the driver must not add a CR.
        if (g_terminal.termiosChanged) applyRawMode(true);
        queueOutput(ENTER_SHOW_SCREEN);
        g_terminal.showScreen = 1;
        g_terminal.redraw = 1;
    }
    if (g_terminal.redraw) {
        g_terminal.redraw = 0;
        int16_t terminalColumns = 0;
        int16_t terminalRows = 0;
        queryTerminalSize(terminalColumns, terminalRows);
        encoder_->setTerminalSize(terminalColumns, terminalRows);
    }
    queueOutput(encoder_->encodeFrame(screen_.data(), columns_ * CONSOLE_CELL_BYTES));
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
