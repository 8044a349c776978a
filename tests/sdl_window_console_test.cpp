// The window console on SDL's display-less video driver: what it draws is read
// back from its renderer and compared with the console look of the same cells,
// byte for byte; text lands in the cells as a console prints it; keys and close
// requests become the input the frame loop reads.
#if VORNAK_HAVE_SDL_WINDOW

#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/console_look.h"
#include "image/console_palette.h"
#include "platform/sdl_window_console.h"
#include "platform/virtual_clock.h"

namespace {

constexpr int COLUMNS = WINDOW_CONSOLE_COLUMNS;
constexpr int ROWS = WINDOW_CONSOLE_ROWS;

class WindowConsole : public testing::Test {
  protected:
    void SetUp() override {
        // No display needed: SDL's dummy driver with its software renderer.
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_RENDER_DRIVER", "software", 1);
    }
    void TearDown() override {
        console_.close();
        unsetenv("SDL_VIDEODRIVER");
        unsetenv("SDL_RENDER_DRIVER");
    }

    void open(int width, int height) {
        std::string reason;
        ASSERT_TRUE(console_.open(reason, width, height)) << reason;
    }

    // Writes one frame as the frame loop does.
    void writeFrame(const std::vector<uint8_t>& cells) {
        console_.beginFrame();
        for (int row = 0; row < ROWS; ++row)
            console_.writeCellRow(int16_t(row), &cells[size_t(row) * COLUMNS * 4], COLUMNS);
        console_.endFrame();
    }

    RgbaImage expectedLook() {
        RgbaImage look;
        EXPECT_TRUE(drawConsoleLook(console_.cells(), look));
        return look;
    }

    void expectPictureIsLookAtScale(const RgbaImage& shown, const RgbaImage& look, int scale) {
        const PictureRect place = console_.pictureRect();
        ASSERT_EQ(place.width, look.width * scale);
        ASSERT_EQ(place.height, look.height * scale);
        size_t wrong = 0;
        for (int y = 0; y < shown.height; ++y) {
            for (int x = 0; x < shown.width; ++x) {
                const uint8_t* got = &shown.pixels[(size_t(y) * size_t(shown.width) + x) * 4];
                const bool inside = x >= place.x && x < place.x + place.width && y >= place.y &&
                                    y < place.y + place.height;
                uint8_t want[3] = {0, 0, 0};
                if (inside) {
                    const size_t source = size_t((y - place.y) / scale) * size_t(look.width) +
                                          size_t((x - place.x) / scale);
                    std::memcpy(want, &look.pixels[source * 4], 3);
                }
                wrong += std::memcmp(got, want, 3) != 0;
            }
        }
        EXPECT_EQ(wrong, 0u);
    }

    void pushKey(SDL_Keycode key, uint16_t modifiers = KMOD_NONE, uint8_t repeat = 0) {
        SDL_Event event{};
        event.type = SDL_KEYDOWN;
        event.key.state = SDL_PRESSED;
        event.key.repeat = repeat;
        event.key.keysym.sym = key;
        event.key.keysym.mod = modifiers;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }

    void pushClick(int x, int y, uint8_t button = SDL_BUTTON_LEFT) {
        SDL_Event event{};
        event.type = SDL_MOUSEBUTTONDOWN;
        event.button.button = button;
        event.button.state = SDL_PRESSED;
        event.button.x = x;
        event.button.y = y;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }

    // The virtual-key codes of the key-downs waiting, in order.
    std::vector<uint16_t> pendingKeys() {
        std::vector<uint16_t> keys;
        for (uint32_t n = console_.pendingInputEvents(); n > 0; --n) {
            ConsoleInputEvent event;
            if (!console_.readInputEvent(event)) break;
            EXPECT_EQ(event.eventType, CONSOLE_KEY_EVENT);
            EXPECT_EQ(event.keyDown, 1);
            keys.push_back(event.virtualKeyCode);
        }
        return keys;
    }

    void pushWindowEvent(uint8_t what) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = what;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }

    SdlWindowConsole console_;
};

// Every character in every attribute, then a frame that differs in one cell,
// then an unchanged frame: each must be shown exactly.
std::vector<std::vector<uint8_t>> testFrames() {
    std::vector<std::vector<uint8_t>> frames(3, std::vector<uint8_t>(COLUMNS * ROWS * 4, 0));
    uint32_t seed = 12345;
    for (int i = 0; i < COLUMNS * ROWS; ++i) {
        seed = seed * 1103515245u + 12345u;
        frames[0][size_t(i) * 4] = uint8_t(i);
        frames[0][size_t(i) * 4 + 2] = uint8_t(seed >> 16);
    }
    frames[1] = frames[0];
    frames[1][(size_t(37) * COLUMNS + 41) * 4] ^= 0xFF;
    frames[1][(size_t(37) * COLUMNS + 41) * 4 + 2] ^= 0x5A;
    frames[2] = frames[1];
    return frames;
}

}  // namespace

TEST_F(WindowConsole, ShowsEachFrameExactlyAsTheConsoleLookAtOneToOne) {
    open(640, 612);
    for (const auto& frame : testFrames()) {
        writeFrame(frame);
        ASSERT_EQ(std::memcmp(console_.cells().pixels(), frame.data(), frame.size()), 0);
        RgbaImage shown;
        ASSERT_TRUE(console_.readBack(shown));
        ASSERT_EQ(shown.width, 640);
        ASSERT_EQ(shown.height, 612);
        const RgbaImage look = expectedLook();
        // Alpha is the renderer's business; the colours must be the same bytes.
        for (size_t i = 0; i < look.pixels.size(); i += 4)
            ASSERT_EQ(std::memcmp(&shown.pixels[i], &look.pixels[i], 3), 0) << "pixel " << i / 4;
    }
}

TEST_F(WindowConsole, ScalesByWholeFactorsCentredAndShrinksBelowOne) {
    const auto frames = testFrames();
    {
        open(1280, 1224);
        writeFrame(frames[0]);
        RgbaImage shown;
        ASSERT_TRUE(console_.readBack(shown));
        expectPictureIsLookAtScale(shown, expectedLook(), 2);
        console_.close();
    }
    {
        // Not a whole multiple: 2x, with black margins of 60 and 38.
        open(1400, 1300);
        writeFrame(frames[1]);
        const PictureRect place = console_.pictureRect();
        EXPECT_EQ(place.x, 60);
        EXPECT_EQ(place.y, 38);
        RgbaImage shown;
        ASSERT_TRUE(console_.readBack(shown));
        expectPictureIsLookAtScale(shown, expectedLook(), 2);
        console_.close();
    }
    {
        // Half size: every other pixel of the look, nothing but palette colours.
        open(320, 400);
        writeFrame(frames[0]);
        const PictureRect place = console_.pictureRect();
        EXPECT_EQ(place.width, 320);
        EXPECT_EQ(place.height, 300);
        EXPECT_EQ(place.y, 47);
        RgbaImage shown;
        ASSERT_TRUE(console_.readBack(shown));
        size_t black = 0, notPalette = 0;
        for (int y = 0; y < shown.height; ++y) {
            for (int x = 0; x < shown.width; ++x) {
                const uint8_t* p = &shown.pixels[(size_t(y) * 320 + x) * 4];
                if (y < place.y || y >= place.y + place.height) {
                    black += p[0] == 0 && p[1] == 0 && p[2] == 0;
                    continue;
                }
                bool found = false;
                for (const ConsoleRgb& c : CONSOLE_PALETTE)
                    found = found || (p[0] == c.r && p[1] == c.g && p[2] == c.b);
                notPalette += !found;
            }
        }
        EXPECT_EQ(black, size_t(320 * 100));
        EXPECT_EQ(notPalette, 0u);
    }
}

TEST_F(WindowConsole, TextLandsInTheCellsAsAConsolePrintsIt) {
    open(640, 612);
    // The start-up lines as the show writes them.
    console_.writeText("Initialize VORNAK... ", 21);
    console_.writeText("\nStart in 3 seconds...", 22);
    const auto rowText = [&](int row, int from, int count) {
        std::string text;
        const uint8_t* cells = console_.cells().pixels() + row * console_.cells().pitch();
        for (int i = from; i < from + count; ++i) text += char(cells[i * 4]);
        return text;
    };
    EXPECT_EQ(rowText(0, 0, 22), "Initialize VORNAK...  ");
    EXPECT_EQ(rowText(1, 0, 23), "Start in 3 seconds...  ");
    for (int i = 0; i < COLUMNS * ROWS; ++i)
        ASSERT_EQ(console_.cells().pixels()[i * 4 + 2], WINDOW_CONSOLE_TEXT_ATTRIBUTE) << i;

    // What is shown is the console look of those cells.
    RgbaImage shown;
    ASSERT_TRUE(console_.readBack(shown));
    expectPictureIsLookAtScale(shown, expectedLook(), 1);

    // Carriage return, backspace and tab move the cursor; a full line wraps.
    console_.writeText("\rab\bc\td", 7);
    EXPECT_EQ(rowText(1, 0, 11), "ac      d3 ");
    const std::string line(COLUMNS + 5, 'x');
    console_.writeText("\n", 1);
    console_.writeText(line.data(), uint32_t(line.size()));
    EXPECT_EQ(rowText(2, 0, COLUMNS), std::string(COLUMNS, 'x'));
    EXPECT_EQ(rowText(3, 0, 6), "xxxxx ");

    // At the bottom the screen scrolls up a line at a time.
    const std::string lines(ROWS, '\n');
    console_.writeText(lines.data(), uint32_t(lines.size()));
    console_.writeText("last", 4);
    EXPECT_EQ(rowText(ROWS - 1, 0, 5), "last ");
    EXPECT_EQ(rowText(ROWS - 2, 0, 3), "   ");
    console_.writeText("\n", 1);
    EXPECT_EQ(rowText(ROWS - 2, 0, 5), "last ");
    EXPECT_EQ(rowText(ROWS - 1, 0, 4), "    ");
}

TEST_F(WindowConsole, RowWritesAreClippedAndShownAfterTheLastRowOutsideAFrame) {
    open(640, 612);
    std::vector<uint8_t> wide((COLUMNS + 20) * 4, 0x11);
    console_.writeCellRow(-1, wide.data(), int16_t(COLUMNS + 20));
    console_.writeCellRow(ROWS, wide.data(), int16_t(COLUMNS + 20));
    console_.writeCellRow(3, wide.data(), 0);
    console_.writeCellRow(3, wide.data(), int16_t(COLUMNS + 20));
    const uint8_t* cells = console_.cells().pixels();
    EXPECT_EQ(cells[3 * console_.cells().pitch()], 0x11);
    EXPECT_EQ(cells[2 * console_.cells().pitch()], ' ');
    EXPECT_EQ(cells[4 * console_.cells().pitch()], ' ');
    // The whole row and nothing past it.
    const std::vector<uint8_t> row3(cells + 3 * console_.cells().pitch(),
                                    cells + 4 * console_.cells().pitch());
    EXPECT_EQ(row3, std::vector<uint8_t>(COLUMNS * 4, 0x11));

    console_.writeCellRow(ROWS - 1, wide.data(), COLUMNS);
    RgbaImage shown;
    ASSERT_TRUE(console_.readBack(shown));
    expectPictureIsLookAtScale(shown, expectedLook(), 1);
}

TEST_F(WindowConsole, KeysClicksAndCloseRequestsBecomeVirtualKeyDowns) {
    open(640, 612);
    // Each key pressed, then held (a repeat), with or without a modifier.
    struct Case {
        SDL_Keycode key;
        uint16_t modifiers;
        std::vector<uint16_t> pressedThenRepeated;
    };
    const Case cases[] = {
        {SDLK_ESCAPE, KMOD_NONE, {CONSOLE_VK_ESCAPE}},
        {SDLK_SPACE, KMOD_NONE, {CONSOLE_VK_SPACE}},
        {SDLK_p, KMOD_NONE, {'P'}},
        {SDLK_q, KMOD_LSHIFT, {'Q'}},
        {SDLK_m, KMOD_NONE, {'M'}},
        {SDLK_i, KMOD_NONE, {'I'}},
        {SDLK_HOME, KMOD_NONE, {CONSOLE_VK_HOME}},
        {SDLK_LEFT, KMOD_NONE, {CONSOLE_VK_LEFT, CONSOLE_VK_LEFT}},
        {SDLK_RIGHT, KMOD_NONE, {CONSOLE_VK_RIGHT, CONSOLE_VK_RIGHT}},
        {SDLK_UP, KMOD_NONE, {CONSOLE_VK_UP, CONSOLE_VK_UP}},
        {SDLK_DOWN, KMOD_NONE, {CONSOLE_VK_DOWN, CONSOLE_VK_DOWN}},
        {SDLK_PAGEUP, KMOD_NONE, {CONSOLE_VK_PAGE_UP, CONSOLE_VK_PAGE_UP}},
        {SDLK_PAGEDOWN, KMOD_NONE, {CONSOLE_VK_PAGE_DOWN, CONSOLE_VK_PAGE_DOWN}},
        {SDLK_PERIOD, KMOD_NONE, {CONSOLE_VK_PERIOD, CONSOLE_VK_PERIOD}},
        {SDLK_COMMA, KMOD_NONE, {CONSOLE_VK_COMMA, CONSOLE_VK_COMMA}},
        {SDLK_9, KMOD_NONE, {'9', '9'}},
        {SDLK_0, KMOD_NONE, {'0', '0'}},
        {SDLK_RETURN, KMOD_NONE, {}},
        {SDLK_F1, KMOD_NONE, {}},
        {SDLK_q, KMOD_LCTRL, {}},
        {SDLK_ESCAPE, KMOD_LCTRL, {CONSOLE_VK_ESCAPE}},
    };
    for (const Case& c : cases) {
        pushKey(c.key, c.modifiers);
        pushKey(c.key, c.modifiers, 1);
        EXPECT_EQ(pendingKeys(), c.pressedThenRepeated) << SDL_GetKeyName(c.key);
    }

    // A left click on the picture; not one beside it, nor another button.
    pushClick(320, 300);
    pushClick(320, 606);
    pushClick(320, 300, SDL_BUTTON_RIGHT);
    EXPECT_EQ(pendingKeys(), std::vector<uint16_t>{CONSOLE_VK_POINTER});

    ConsoleInputEvent event;

    // Losing the focus changes nothing.
    pushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(console_.pendingInputEvents(), 0u);

    // flushInput drops what is pending.
    pushKey(SDLK_ESCAPE);
    console_.flushInput();
    EXPECT_EQ(console_.pendingInputEvents(), 0u);

    // Closing the window, and the quit that follows it, end the show once.
    pushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    ASSERT_EQ(console_.pendingInputEvents(), 1u);
    ASSERT_TRUE(console_.readInputEvent(event));
    EXPECT_EQ(event.virtualKeyCode, CONSOLE_VK_ESCAPE);
    EXPECT_EQ(event.keyDown, 1);

    // A flood of keys fills the queue and no more; an Escape after it still arrives.
    for (int i = 0; i < 40; ++i) pushKey(SDLK_RIGHT);
    pushKey(SDLK_ESCAPE);
    std::vector<uint16_t> flood(31, CONSOLE_VK_RIGHT);
    flood.push_back(CONSOLE_VK_ESCAPE);
    EXPECT_EQ(pendingKeys(), flood);
}

TEST_F(WindowConsole, AltEnterAndF11SwitchFullScreenBackAndForth) {
    open(640, 612);
    EXPECT_FALSE(console_.fullScreen());
    pushKey(SDLK_RETURN, KMOD_LALT);
    console_.handleWindowEvents();
    EXPECT_TRUE(console_.fullScreen());
    pushKey(SDLK_F11);
    console_.handleWindowEvents();
    EXPECT_FALSE(console_.fullScreen());
    pushKey(SDLK_KP_ENTER, KMOD_RALT);
    console_.handleWindowEvents();
    EXPECT_TRUE(console_.fullScreen());
    EXPECT_EQ(console_.pendingInputEvents(), 0u);
}

TEST_F(WindowConsole, ClockSleepKeepsHandlingWindowEvents) {
    open(640, 612);
    auto base = std::make_unique<VirtualClock>(1000);
    VirtualClock& virtualClock = *base;
    WindowEventClock clock(std::move(base), console_);
    pushKey(SDLK_ESCAPE);
    clock.sleep(3000);
    EXPECT_EQ(clock.tickCount(), 4000u);
    EXPECT_EQ(virtualClock.sleptTotal(), 3000u);
    // The event was taken from SDL's queue during the sleep.
    SDL_PumpEvents();
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN), 0);
    EXPECT_EQ(console_.pendingInputEvents(), 1u);
}

#endif  // VORNAK_HAVE_SDL_WINDOW
