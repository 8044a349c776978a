#include "program/backends.h"

#include "platform/sound_backends.h"
#include "platform/terminal_encoder.h"
#include "program/music_file.h"

#if VORNAK_HAVE_POSIX_TERMINAL
#include "platform/posix_clock.h"
#include "platform/posix_terminal_console.h"
#endif

namespace {

#if VORNAK_HAVE_POSIX_TERMINAL
int openTerminal(const Options& options, Backends& backends, std::FILE* errors) {
    TerminalColors colors = TerminalColors::Auto;
    parseTerminalColors(options.colors, colors);
    auto console = std::make_unique<PosixTerminalConsole>(colors);
    if (!console->open()) {
        std::fprintf(errors, "%s\n", console->openFailure().c_str());
        return 1;
    }
    backends.console = std::move(console);
    backends.clock = std::make_unique<PosixClock>();
    return 0;
}
#endif

// The sound output, finding the music file where the program is installed. Never
// destroyed, like the outputs themselves: the Demo's exit hook may still reach it.
SoundSystem& musicSearchingOutput(bool silent) {
    if (silent) {
        static auto* const quiet =
            new MusicSearchingSound(silentSoundSystem(), musicSearchDirectories());
        return *quiet;
    }
    static auto* const playing =
        new MusicSearchingSound(platformSoundSystem(), musicSearchDirectories());
    return *playing;
}

}  // namespace

int openBackends(const Options& options, Backends& backends, std::FILE* errors) {
#if VORNAK_HAVE_POSIX_TERMINAL
    const int status = openTerminal(options, backends, errors);
#else
    (void)options;
    std::fputs("vornak: this build has no console to show the show in\n", errors);
    const int status = 1;
#endif
    if (status != 0) return status;
    backends.sound = &musicSearchingOutput(options.noSound);
    return 0;
}
