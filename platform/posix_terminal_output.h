// The terminal's output for PosixTerminalConsole: a non-blocking descriptor and a
// queue of bytes the terminal has not taken yet. Shared with the signal handlers,
// so it lives in one global; the calls marked so are async-signal-safe.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace posix_terminal {

struct TerminalOutput {
    int descriptor = -1;         // non-blocking descriptor for the terminal
    bool ownDescriptor = false;  // opened here (else it is standard output)
    int flagsBefore = -1;        // standard output's flags to put back, -1: unchanged
    // Bytes accepted but not yet taken by the terminal, [queueHead, queueTail)
    // of `queue`. Changed only with the deferred signals blocked; a handler
    // that gives the terminal back drops them.
    char* queue = nullptr;
    size_t queueCapacity = 0;
    volatile size_t queueHead = 0;
    volatile size_t queueTail = 0;
    volatile sig_atomic_t gone = 0;  // the terminal takes no more bytes
};

extern TerminalOutput g_output;

// Milliseconds on the monotonic clock. Async-signal-safe.
int64_t monotonicMs();

// Opens a descriptor of the terminal for non-blocking writes (preferably a fresh
// one: the flag then does not change standard output, which the shell shares)
// and an empty queue. False if the terminal cannot be written.
bool openOutput();
// Closes the descriptor (or gives standard output its flags back).
void closeOutput();

// Writes to the terminal, waiting for room until `deadlineMs` (monotonic; -1:
// no limit). Answers how many bytes went out. Async-signal-safe.
size_t writeUntil(const char* data, size_t size, int64_t deadlineMs);

bool queueEmpty();
// Sends what the terminal takes now from the queue, without waiting.
void pumpQueue();
// Queues bytes behind those waiting and sends what the terminal takes now.
void queueOutput(std::string_view bytes);
// Sends bytes now, waiting as long as the terminal needs; behind queued bytes they are queued.
void sendNow(std::string_view bytes);
// Gives the queued bytes until `deadlineMs` to go out; the rest stays queued.
void drainQueue(int64_t deadlineMs);
// Drops the queued bytes; true if there were any. Async-signal-safe.
bool dropQueue();

}  // namespace posix_terminal
