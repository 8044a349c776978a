// The player's soak test, run by hand (not by `make test`):
//
//     build/vornak_player_soak [MINUTES]   (default 10)
//
// Plays the show looping, with its music through the platform's sound output
// (or its silent stand-in), on a console that takes the frames without showing
// them and presses a player key every second: seeks, scene jumps, Home, a pause
// resumed a second later. Prints, each minute and at the end, the resident and
// peak memory and the largest gap between the demo time of each frame written
// while the music plays and the music heard at that moment (but for the frame a
// key brings, drawn before the music is moved there).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/headless_console.h"
#include "platform/posix_clock.h"
#include "platform/sound_backends.h"
#include "program/player.h"

namespace {

// VmRSS or VmHWM of this process in kB, from /proc.
long memoryKb(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            kb = std::atol(line + std::strlen(field) + 1);
    std::fclose(status);
    return kb;
}

ConsoleInputEvent keyDown(uint16_t key) {
    ConsoleInputEvent event;
    event.eventType = CONSOLE_KEY_EVENT;
    event.keyDown = 1;
    event.virtualKeyCode = key;
    return event;
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const uint32_t frames = uint32_t(minutes) * 60 * 50;

    HeadlessConsole console;
    PosixClock clock;
    vornakDemo.attachSound(&platformSoundSystem());

    // A key every 50 frames; a pause is resumed at the next key.
    const uint16_t keys[] = {CONSOLE_VK_LEFT, CONSOLE_VK_RIGHT,   CONSOLE_VK_UP,
                             CONSOLE_VK_DOWN, CONSOLE_VK_PAGE_UP, CONSOLE_VK_PAGE_DOWN,
                             CONSOLE_VK_HOME, CONSOLE_VK_SPACE,   CONSOLE_VK_RIGHT};
    std::mt19937 random(26);
    bool paused = false;
    for (uint32_t at = 50; at < frames; at += 50) {
        const uint16_t key = paused ? CONSOLE_VK_SPACE : keys[random() % std::size(keys)];
        paused = key == CONSOLE_VK_SPACE && !paused;
        console.scheduleInput(at, keyDown(key));
    }
    console.scheduleInput(frames, keyDown(CONSOLE_VK_ESCAPE));

    int64_t worstGap = 0;
    uint64_t measured = 0;
    console.setFrameHook([&](const HeadlessConsole&, uint32_t written) {
        const int64_t heard = vornakDemo.heardMusicMs();
        // The frame a key brings is drawn before the music is moved there.
        const bool keyFrame = written % 50 == 1;
        if (heard >= 0 && !keyFrame) {
            const int64_t gap = std::llabs(int64_t(vornakDemo.demoTime()) - heard);
            worstGap = std::max(worstGap, gap);
            ++measured;
        }
        if (written % (60 * 50) == 0)
            std::printf("minute %u: rss %ld kB, peak %ld kB, worst gap %lld ms over %llu frames\n",
                        written / (60 * 50), memoryKb("VmRSS:"), memoryKb("VmHWM:"),
                        static_cast<long long>(worstGap),
                        static_cast<unsigned long long>(measured));
        std::fflush(stdout);
    });

    PlayOptions options;
    options.loop = true;
    const int result = runPlayer(console, clock, vornakDemo, options);
    std::printf(
        "%s: %u frames written; peak rss %ld kB; worst picture-to-music gap %lld ms over "
        "%llu frames with music\n",
        result == 0 ? "done" : "failed", console.framesWritten(), memoryKb("VmHWM:"),
        static_cast<long long>(worstGap), static_cast<unsigned long long>(measured));
    return result == 0 ? 0 : 1;
}
