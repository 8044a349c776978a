// Process entry of the vornak program: options, then the show in this terminal.
#include <cstdio>
#include <string>

#include "demo/demo.h"
#include "platform/posix_clock.h"
#include "platform/posix_terminal_console.h"
#include "platform/sound_backends.h"
#include "shell/frame_loop.h"
#include "shell/offline_run.h"
#include "shell/options.h"

int main(int argc, char** argv) {
    Options options;
    std::string message;
    switch (parseOptions(argc, argv, options, message)) {
        case OptionsResult::Error:
            std::fprintf(stderr, "vornak: %s\nTry 'vornak --help' for the options.\n",
                         message.c_str());
            return 2;
        case OptionsResult::Exit:
            if (options.help) {
                std::fputs(optionsHelpText(), stdout);
            } else {
                std::puts("vornak " VORNAK_VERSION);
            }
            return 0;
        case OptionsResult::Run:
            break;
    }
    if (options.digest) return runDigest(stdout);
    if (!options.renderDirectory.empty())
        return runRenderMode(options.renderDirectory, options.renderTimes);

    PosixTerminalConsole console(options.colors);
    if (!console.open()) {
        std::fprintf(stderr, "%s\n", console.openFailure().c_str());
        return 1;
    }
    PosixClock clock;
    vornakDemo.attachPlatform(&clock, &platformSoundSystem());
    int result;
    if (options.noSound) {
        MutedDemo<Demo> muted(vornakDemo);
        result = runShow(console, clock, muted);
    } else {
        result = runShow(console, clock, vornakDemo);
    }
    console.close();
    return result;
}
