// Giving the terminal back, and the signal handlers that do it on every way out.
#include "platform/posix_terminal_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/posix_terminal_output.h"
#include "platform/terminal_sequences.h"

namespace posix_terminal {

TerminalState g_terminal;

namespace {

// Every signal whose default action ends the process (besides SIGINT, which
// first asks for an orderly end, and the crash signals below).
constexpr int TERMINATION_SIGNALS[] = {SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,   SIGPIPE, SIGALRM,
                                       SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};
constexpr int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr int OTHER_SIGNALS[] = {SIGINT, SIGTSTP, SIGWINCH, SIGCONT};

struct sigaction g_previousActions[NSIG];
bool g_handled[NSIG];
stack_t g_previousAltStack;
alignas(16) char g_altStack[65536];

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

sigset_t deferredSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : TERMINATION_SIGNALS) sigaddset(&set, sig);
    for (int sig : OTHER_SIGNALS) sigaddset(&set, sig);
    return set;
}

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

void installHandler(int sig, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigfillset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

void onSuspend(int sig) {
    const int savedErrno = errno;
    const bool hadShowScreen = g_terminal.showScreen != 0;
    const bool hadTitle = g_terminal.titleSet != 0;
    const bool hadRawMode = g_terminal.termiosChanged != 0;
    restoreTerminal(RESTORE_TIMEOUT_MS);
    reraiseWithDefaultAction(sig);  // stops here until SIGCONT

    installHandler(SIGTSTP, onSuspend, SA_RESTART);
    if (hadRawMode) applyRawMode(hadShowScreen);
    if (g_output.flagsBefore >= 0) {
        fcntl(STDOUT_FILENO, F_SETFL, g_output.flagsBefore | O_NONBLOCK);
    }
    const int64_t deadline = monotonicMs() + RESTORE_TIMEOUT_MS;
    if (hadTitle) sendTitle(deadline);
    if (hadShowScreen) {
        writeUntil(vt::ENTER_SHOW_SCREEN.data(), vt::ENTER_SHOW_SCREEN.size(), deadline);
        g_terminal.showScreen = 1;
    }
    g_terminal.redraw = 1;
    errno = savedErrno;
}

void onResizeOrResume(int) {
    g_terminal.redraw = 1;
}

// Takes over `sig` unless the process was started with it ignored (nohup, a
// background job): an ignored signal stays ignored.
void takeOver(int sig, void (*handler)(int), int flags) {
    sigaction(sig, nullptr, &g_previousActions[sig]);
    g_handled[sig] = g_previousActions[sig].sa_handler != SIG_IGN;
    if (g_handled[sig]) installHandler(sig, handler, flags);
}

}  // namespace

void sendTitle(int64_t deadlineMs) {
    char bytes[sizeof g_terminal.title + 16];
    size_t length = 0;
    for (std::string_view part :
         {vt::PUSH_TITLE, vt::TITLE_BEGIN,
          std::string_view(g_terminal.title, g_terminal.titleLength), vt::TITLE_END}) {
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

void restoreTerminal(int timeoutMs) {
    RestoreBuffer restore;
    if (dropQueue()) restore.add(vt::CANCEL);
    if (g_terminal.showScreen) {
        restore.add(vt::LEAVE_SHOW_SCREEN);
        g_terminal.showScreen = 0;
    } else {
        restore.add(vt::SHOW_CURSOR);
    }
    if (g_terminal.titleSet) {
        restore.add(vt::POP_TITLE);
        g_terminal.titleSet = 0;
    }
    if (!g_terminal.atLineStart) {
        restore.add(vt::LINE_FEED);
        g_terminal.atLineStart = 1;
    }
    // First, so that the last line end is sent as the terminal was set; and
    // now, not after the output drains: the terminal may not be reading.
    if (g_terminal.termiosChanged) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal.saved);
        g_terminal.termiosChanged = 0;
    }
    if (g_output.descriptor >= 0) {
        writeUntil(restore.bytes, restore.length, monotonicMs() + timeoutMs);
    }
    // Standard output made non-blocking (no descriptor of its own): as it was.
    if (g_output.flagsBefore >= 0) fcntl(STDOUT_FILENO, F_SETFL, g_output.flagsBefore);
}

void applyRawMode(bool showScreen) {
    if (tcsetattr(STDIN_FILENO, TCSANOW, showScreen ? &g_terminal.show : &g_terminal.raw) == 0) {
        g_terminal.termiosChanged = 1;
    }
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

SignalBlock::SignalBlock() {
    const sigset_t set = deferredSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalBlock::~SignalBlock() {
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace posix_terminal
