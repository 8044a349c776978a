#include "program/stop_signals.h"

#include <cstdlib>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal) {
    stopSignal = signal;
}

}  // namespace

#if defined(_WIN32)
// The C runtime's signals: a handler is reset to the default before it runs,
// so a second Ctrl-C ends the program.
StopSignals::StopSignals() {
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) {
        previous_[i] = std::signal(SIGNALS[i], requestStop);
        if (previous_[i] == SIG_IGN) std::signal(SIGNALS[i], SIG_IGN);
    }
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < SIGNAL_COUNT; ++i)
        if (previous_[i] != SIG_ERR) std::signal(SIGNALS[i], previous_[i]);
}
#else
StopSignals::StopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) {
        sigaction(SIGNALS[i], nullptr, &previous_[i]);
        if (previous_[i].sa_handler != SIG_IGN) sigaction(SIGNALS[i], &action, nullptr);
    }
    previousFileSize_ = std::signal(SIGXFSZ, SIG_IGN);
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) sigaction(SIGNALS[i], &previous_[i], nullptr);
    std::signal(SIGXFSZ, previousFileSize_);
}
#endif

int StopSignals::requested() {
    return stopSignal;
}

void StopSignals::endByRequest() {
    const int signal = stopSignal;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}
