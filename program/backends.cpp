#include "program/backends.h"

#include <cstdlib>
#include <string>

#include "platform/sound_backends.h"
#include "platform/terminal_encoder.h"
#include "program/music_file.h"

#if VORNAK_HAVE_POSIX_TERMINAL
#include <unistd.h>

#include "platform/posix_clock.h"
#include "platform/posix_terminal_console.h"
#endif

#if VORNAK_HAVE_SDL_WINDOW && VORNAK_HAVE_POSIX_TERMINAL
#include "platform/sdl_window_console.h"
#define VORNAK_CAN_OPEN_WINDOW 1
#else
#define VORNAK_CAN_OPEN_WINDOW 0
#endif

#if VORNAK_HAVE_WIN32_CONSOLE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/win32_clock.h"
#include "platform/win32_console.h"
#endif

namespace {

constexpr char NO_TERMINAL_NOR_DISPLAY[] =
    "vornak: needs a terminal or a display: run it with standard input and output on a "
    "terminal, or on a desktop\n";

#if VORNAK_HAVE_POSIX_TERMINAL
[[maybe_unused]] bool onTerminal() {
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

int openTerminal(const Options& options, Backends& backends, std::FILE* errors) {
    TerminalColors colors = TerminalColors::Auto;
    parseTerminalColors(options.colors, colors);
    auto console = std::make_unique<PosixTerminalConsole>(colors);
    if (!console->open()) {
        // Not on a terminal at all: a display would have done too.
        if (!onTerminal()) {
            std::fputs(NO_TERMINAL_NOR_DISPLAY, errors);
        } else {
            std::fprintf(errors, "%s\n", console->openFailure().c_str());
        }
        return 1;
    }
    backends.console = std::move(console);
    backends.clock = std::make_unique<PosixClock>();
    return 0;
}
#else
[[maybe_unused]] bool onTerminal() {
    return false;
}

[[maybe_unused]] int openTerminal(const Options&, Backends&, std::FILE* errors) {
    std::fputs("vornak: this build has no console to show the show in\n", errors);
    return 1;
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

#if VORNAK_CAN_OPEN_WINDOW
int openWindow(Backends& backends, std::FILE* errors) {
    auto console = std::make_unique<SdlWindowConsole>();
    std::string reason;
    if (!console->open(reason)) {
        std::fprintf(errors, "vornak: cannot open a window: %s\n", reason.c_str());
        return 1;
    }
    backends.clock = std::make_unique<WindowEventClock>(std::make_unique<PosixClock>(), *console);
    backends.console = std::move(console);
    return 0;
}
#else
[[maybe_unused]] int openWindow(Backends&, std::FILE* errors) {
    std::fputs("vornak: this build has no window to show the show in\n", errors);
    return 1;
}
#endif

bool namedInEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != 0;
}

// A desktop to open a window on without being asked: one named by the
// environment, or, where there is no such convention, whatever SDL finds. On
// Linux an unnamed display could only be the machine's own screen taken over
// from its text console (SDL's KMS/DRM driver), which nobody expects from a
// program whose output is merely redirected.
[[maybe_unused]] bool displayAvailable() {
    if (!VORNAK_CAN_OPEN_WINDOW) return false;
    if (namedInEnvironment("DISPLAY") || namedInEnvironment("WAYLAND_DISPLAY")) return true;
#if defined(__APPLE__)
    return true;
#else
    return false;
#endif
}

#if VORNAK_HAVE_WIN32_CONSOLE
// Without a working console the one line goes to standard error; where that
// leads nowhere either (started from a shortcut with handles taken away), a
// message box says it.
int openWin32Console(Backends& backends, std::FILE* errors) {
    auto console = std::make_unique<Win32Console>();
    std::string problem;
    if (!console->open(problem)) {
        const std::string line = "vornak: " + problem + "\n";
        const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        const bool errorLeadsSomewhere =
            errors != stderr || (error != nullptr && error != INVALID_HANDLE_VALUE &&
                                 GetFileType(error) != FILE_TYPE_UNKNOWN);
        if (errorLeadsSomewhere) {
            std::fputs(line.c_str(), errors);
        } else {
            MessageBoxA(nullptr, line.c_str(), "VORNAK", MB_OK | MB_ICONERROR);
        }
        return 1;
    }
    backends.console = std::move(console);
    backends.clock = std::make_unique<Win32Clock>();
    return 0;
}
#endif

// A terminal where there is one; a window where the program was started without
// one (from a desktop launcher, or with its output redirected), or when asked.
int openConsole(const Options& options, Backends& backends, std::FILE* errors) {
#if VORNAK_HAVE_WIN32_CONSOLE
    (void)options;
    return openWin32Console(backends, errors);
#else
    if (options.window || (!onTerminal() && displayAvailable()))
        return openWindow(backends, errors);
    return openTerminal(options, backends, errors);
#endif
}

}  // namespace

int openBackends(const Options& options, Backends& backends, std::FILE* errors) {
    if (const int status = openConsole(options, backends, errors); status != 0) return status;
    backends.sound = &musicSearchingOutput(options.noSound);
    return 0;
}
