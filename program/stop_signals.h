// Termination requests (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-C and
// Ctrl-Break) that stop a long offline run after its current step, so that it
// can clean up before it ends.
#pragma once

#include <csignal>
#include <cstddef>

class StopSignals {
  public:
    // Catches the requests while it exists; one ignored when we started (a
    // background job's Ctrl-C) stays ignored, and a second request ends the
    // program at once. Past a file size limit, writes fail (like a full disk)
    // instead of ending the program.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked for a stop; 0 while none has.
    static int requested();
    // Ends the process by the signal that asked for the stop, as it would have
    // ended without us.
    [[noreturn]] static void endByRequest();

  private:
#if defined(_WIN32)
    static constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGBREAK};
    static constexpr size_t SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];
    void (*previous_[SIGNAL_COUNT])(int) = {};
#else
    static constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
    static constexpr size_t SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];
    struct sigaction previous_[SIGNAL_COUNT] {};
    void (*previousFileSize_)(int) = SIG_DFL;
#endif
};
