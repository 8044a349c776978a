#include "program/backends.h"

#include "platform/sound_backends.h"
#include "platform/terminal_encoder.h"

#if VORNAK_HAVE_POSIX_TERMINAL
#include "platform/posix_clock.h"
#include "platform/posix_terminal_console.h"
#endif

#if VORNAK_HAVE_WIN32_CONSOLE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/win32_clock.h"
#include "platform/win32_console.h"
#endif

namespace {

#if VORNAK_HAVE_POSIX_TERMINAL
int openTerminal(const Options& options, Backends& backends, std::FILE* errors) {
    TerminalColors colors = TerminalColors::Auto;
    parseTerminalColors(options.colors, colors);
    auto console = std::make_unique<PosixTerminalConsole>(colors);
    if (!console->open()) {
        std::fputs(
            "vornak: needs a terminal: run it with standard input and output on a terminal\n",
            errors);
        return 1;
    }
    backends.console = std::move(console);
    backends.clock = std::make_unique<PosixClock>();
    return 0;
}
#endif

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

}  // namespace

int openBackends(const Options& options, Backends& backends, std::FILE* errors) {
#if VORNAK_HAVE_POSIX_TERMINAL
    const int status = openTerminal(options, backends, errors);
#elif VORNAK_HAVE_WIN32_CONSOLE
    (void)options;
    const int status = openWin32Console(backends, errors);
#else
    (void)options;
    std::fputs("vornak: this build has no console to show the show in\n", errors);
    const int status = 1;
#endif
    if (status != 0) return status;
    backends.sound = options.noSound ? &silentSoundSystem() : &platformSoundSystem();
    return 0;
}
