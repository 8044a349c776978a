// What PosixTerminalConsole changed on the terminal, and the signal handlers that
// give it back on every way out (termination, crash, Ctrl-C twice) and around
// Ctrl-Z, and note a resize. Only async-signal-safe calls touch the state from a handler.
#pragma once

#include <signal.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>

namespace posix_terminal {

struct TerminalState {
    termios saved;  // as found
    termios raw;    // for the start-up lines: keys raw
    termios show;   // for frames: also line feeds sent as they are (no CR added)
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

extern TerminalState g_terminal;

// How long giving the terminal back may wait for a terminal that reads
// nothing: a termination request is then still honoured at once.
constexpr int RESTORE_TIMEOUT_MS = 150;

// Sets the terminal's modes: `show` for frames, else `raw`.
void applyRawMode(bool showScreen);
// Saves the title and sets the show's: queued (QUEUE_IT), or written by `deadlineMs`.
constexpr int64_t QUEUE_IT = -2;
void sendTitle(int64_t deadlineMs);
// Undoes the set-up in reverse order, waiting at most `timeoutMs` for the
// terminal to take the bytes. Bytes still queued are dropped, and a sequence
// they cut short is cancelled first. Async-signal-safe; the flags tell what
// was done, so restoring twice sends nothing the second time but show-cursor.
void restoreTerminal(int timeoutMs);

// Takes over the signals that end or stop the process, Ctrl-C, resize and
// resume; an ignored signal stays ignored. removeHandlers puts back what was there.
void installHandlers();
void removeHandlers();

// Holds termination, suspend and resize signals back while the output queue
// and the terminal state change. Nothing waits for the terminal meanwhile, so
// a signal is handled moments later.
class SignalBlock {
  public:
    SignalBlock();
    ~SignalBlock();
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace posix_terminal
