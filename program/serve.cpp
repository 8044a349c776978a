#include "program/serve.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/headless_console.h"
#include "platform/posix_clock.h"
#include "program/frame_loop.h"
#include "show/demo.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int) {
    g_stopRequested = 1;
}

// The frames go to a console in memory; the server reads its cells.
const uint8_t* showCells(const HeadlessConsole& console) {
    return console.cells().size() >= SHOW_CELL_BYTES ? console.cells().data() : nullptr;
}

}  // namespace

int runServeMode(const ServeSettings& settings) {
    ShowServer server(settings);
    std::string error;
    if (!server.open(error) || !server.dropPrivileges(error)) {
        std::fprintf(stderr, "vornak: %s\n", error.c_str());
        return 1;
    }

    HeadlessConsole console;
    PosixClock clock;
    MutedDemo<Demo> demo(vornakDemo);
    FrameLoop<MutedDemo<Demo>> loop(console, demo);
    if (!loop.start()) {
        std::fprintf(stderr, "vornak: %s\n", console.text().c_str());
        return 1;
    }
    if (server.telnetPort() != 0) {
        std::fprintf(stderr, "vornak: serving the show over telnet on %s (port %u)\n",
                     settings.telnet.c_str(), unsigned(server.telnetPort()));
    }
    if (server.sshPort() != 0) {
        std::fprintf(stderr, "vornak: serving the show over SSH on %s (port %u), any user name\n",
                     settings.ssh.c_str(), unsigned(server.sshPort()));
    }
    std::fprintf(stderr,
                 "vornak: no music (terminals have none); the show loops; "
                 "SIGINT or SIGTERM stops the server\n");
    std::fflush(stderr);

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    uint32_t lastTick = clock.tickCount();
    while (g_stopRequested == 0) {
        if (loop.frame(clock.tickCount()) != 1) {
            // The end of the timeline: the show starts again from its beginning.
            loop.finish();
            if (!loop.start()) {
                std::fprintf(stderr, "vornak: %s\n", console.text().c_str());
                server.close(clock.tickCount());
                return 1;
            }
            lastTick = clock.tickCount();
            continue;
        }
        if (const uint8_t* cells = showCells(console)) server.frame(cells, clock.tickCount());
        // The rest of the frame slot goes to the sockets (at least one look at
        // them, also when rendering ran late); the slots keep the show's pace.
        const uint32_t start = clock.tickCount();
        const FrameSlot slot = nextFrameSlot(start, lastTick);
        uint32_t now = start;
        do {
            server.step(now, g_stopRequested != 0 ? 0 : slot.wait - (now - start));
            now = clock.tickCount();
        } while (now - start < slot.wait && g_stopRequested == 0);
        lastTick = slot.nextTick;
    }
    server.close(clock.tickCount());
    loop.finish();
    std::fprintf(stderr, "vornak: the server stopped\n");
    return 0;
}
