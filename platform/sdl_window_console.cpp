#include "platform/sdl_window_console.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>

#include "data/console_font.h"
#include "image/console_look.h"

namespace {

constexpr int PICTURE_WIDTH = WINDOW_CONSOLE_COLUMNS * CONSOLE_FONT_WIDTH;
constexpr int PICTURE_HEIGHT = WINDOW_CONSOLE_ROWS * CONSOLE_FONT_HEIGHT;
constexpr int TAB_WIDTH = 8;
constexpr int STRIP_HEIGHT = WINDOW_STATUS_STRIP_HEIGHT;
static_assert(STRIP_HEIGHT == CONSOLE_FONT_HEIGHT);

void fillBlank(uint8_t* cells, int count) {
    for (int i = 0; i < count; ++i, cells += CONSOLE_CELL_BYTES) {
        cells[0] = ' ';
        cells[1] = 0;
        cells[2] = WINDOW_CONSOLE_TEXT_ATTRIBUTE;
        cells[3] = 0;
    }
}

// The virtual-key code of a key, 0 for keys the show does not take. Keycodes,
// not scancodes: `p` or `m` is where the keyboard layout puts it.
uint16_t virtualKeyOf(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return uint16_t('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return uint16_t(key);
    switch (key) {
        case SDLK_ESCAPE:
            return CONSOLE_VK_ESCAPE;
        case SDLK_SPACE:
            return CONSOLE_VK_SPACE;
        case SDLK_PAGEUP:
            return CONSOLE_VK_PAGE_UP;
        case SDLK_PAGEDOWN:
            return CONSOLE_VK_PAGE_DOWN;
        case SDLK_HOME:
            return CONSOLE_VK_HOME;
        case SDLK_LEFT:
            return CONSOLE_VK_LEFT;
        case SDLK_UP:
            return CONSOLE_VK_UP;
        case SDLK_RIGHT:
            return CONSOLE_VK_RIGHT;
        case SDLK_DOWN:
            return CONSOLE_VK_DOWN;
        case SDLK_COMMA:
            return CONSOLE_VK_COMMA;
        case SDLK_PERIOD:
            return CONSOLE_VK_PERIOD;
        default:
            return 0;
    }
}

// Held down, the keys that move through the show (seeks, scene jumps, frame
// steps) and the volume keys repeat; a toggle repeated would flicker.
bool repeats(uint16_t virtualKey) {
    switch (virtualKey) {
        case CONSOLE_VK_LEFT:
        case CONSOLE_VK_RIGHT:
        case CONSOLE_VK_UP:
        case CONSOLE_VK_DOWN:
        case CONSOLE_VK_PAGE_UP:
        case CONSOLE_VK_PAGE_DOWN:
        case CONSOLE_VK_COMMA:
        case CONSOLE_VK_PERIOD:
        case '9':
        case '0':
            return true;
        default:
            return false;
    }
}

}  // namespace

SdlWindowConsole::SdlWindowConsole() {
    cells_.create({int16_t(WINDOW_CONSOLE_COLUMNS), int16_t(WINDOW_CONSOLE_ROWS)},
                  CONSOLE_CELL_BYTES);
    for (int row = 0; row < WINDOW_CONSOLE_ROWS; ++row)
        fillBlank(cells_.pixels() + row * cells_.pitch(), WINDOW_CONSOLE_COLUMNS);
    statusCells_.create({int16_t(WINDOW_CONSOLE_COLUMNS), 1}, CONSOLE_CELL_BYTES);
    fillBlank(statusCells_.pixels(), WINDOW_CONSOLE_COLUMNS);
}

SdlWindowConsole::~SdlWindowConsole() {
    close();
    cells_.release();
    statusCells_.release();
}

bool SdlWindowConsole::open(std::string& reason, int windowWidth, int windowHeight) {
    close();
    // Whole-factor scaling needs nearest-neighbour sampling; the frame loop does
    // its own pacing, so presenting must not wait for the vertical blank; and a
    // full-screen show stays up when another window takes the focus.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        reason = SDL_GetError();
        return false;
    }
    videoStarted_ = true;
    if (SDL_GetNumVideoDisplays() < 1) {
        reason = "no display found";
        close();
        return false;
    }
    if (windowWidth <= 0 || windowHeight <= 0) {
        SDL_Rect usable{0, 0, PICTURE_WIDTH, PICTURE_HEIGHT};
        SDL_GetDisplayUsableBounds(0, &usable);
        const int scale =
            openingScale(usable.w, usable.h, PICTURE_WIDTH, PICTURE_HEIGHT + STRIP_HEIGHT);
        windowWidth = PICTURE_WIDTH * scale;
        windowHeight = (PICTURE_HEIGHT + STRIP_HEIGHT) * scale;
    }
    window_ =
        SDL_CreateWindow("vornak", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, windowWidth,
                         windowHeight, SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (window_ != nullptr) {
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
        if (renderer_ == nullptr)
            renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    }
    if (renderer_ != nullptr) {
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STREAMING,
                                     PICTURE_WIDTH, PICTURE_HEIGHT);
        statusTexture_ =
            SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STREAMING,
                              PICTURE_WIDTH, STRIP_HEIGHT);
    }
    if (texture_ == nullptr || statusTexture_ == nullptr) {
        reason = SDL_GetError();
        close();
        return false;
    }
    SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
    SDL_SetTextureScaleMode(statusTexture_, SDL_ScaleModeNearest);
    textureStale_ = true;
    statusStale_ = true;
    closeRequested_ = false;
    present();
    return true;
}

void SdlWindowConsole::close() {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (statusTexture_ != nullptr) SDL_DestroyTexture(statusTexture_);
    statusTexture_ = nullptr;
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
    if (videoStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoStarted_ = false;
}

void SdlWindowConsole::setTitle(const char* title) {
    if (window_ != nullptr) SDL_SetWindowTitle(window_, title);
}

void SdlWindowConsole::setScreenBufferSize(int16_t, int16_t) {}

void SdlWindowConsole::flushInput() {
    handleWindowEvents();
    eventCount_ = 0;
    eventHead_ = 0;
}

void SdlWindowConsole::writeText(const char* text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) printCharacter(static_cast<uint8_t>(text[i]));
    textureStale_ = true;
    if (!inFrame_) present();
}

// Prints like a console with processed output: line feed starts the next line,
// carriage return and backspace move within the line, tab goes to the next stop
// of 8, bell sounds nothing; every other byte is a code page 437 character.
// Text wraps at the right edge and scrolls the screen up at the bottom.
void SdlWindowConsole::printCharacter(uint8_t character) {
    switch (character) {
        case '\n':
            newLine();
            return;
        case '\r':
            cursorColumn_ = 0;
            return;
        case '\b':
            cursorColumn_ = std::max(cursorColumn_ - 1, 0);
            return;
        case '\a':
            return;
        case '\t': {
            const int stop = (cursorColumn_ / TAB_WIDTH + 1) * TAB_WIDTH;
            while (cursorColumn_ < stop && cursorColumn_ < WINDOW_CONSOLE_COLUMNS)
                printCharacter(' ');
            return;
        }
        default:
            break;
    }
    if (cursorColumn_ >= WINDOW_CONSOLE_COLUMNS) newLine();
    uint8_t* cell =
        cells_.pixels() + cursorRow_ * cells_.pitch() + cursorColumn_ * CONSOLE_CELL_BYTES;
    cell[0] = character;
    cell[2] = WINDOW_CONSOLE_TEXT_ATTRIBUTE;
    cell[3] = 0;
    ++cursorColumn_;
}

void SdlWindowConsole::newLine() {
    cursorColumn_ = 0;
    if (cursorRow_ + 1 < WINDOW_CONSOLE_ROWS) {
        ++cursorRow_;
        return;
    }
    uint8_t* pixels = cells_.pixels();
    const size_t pitch = static_cast<size_t>(cells_.pitch());
    std::memmove(pixels, pixels + pitch, pitch * (WINDOW_CONSOLE_ROWS - 1));
    fillBlank(pixels + pitch * (WINDOW_CONSOLE_ROWS - 1), WINDOW_CONSOLE_COLUMNS);
}

void SdlWindowConsole::writeCellRow(int16_t row, const uint8_t* cells, int16_t count) {
    // Like the console, clip to the screen buffer.
    if (row < 0 || row >= WINDOW_CONSOLE_ROWS || count <= 0) return;
    const size_t bytes =
        static_cast<size_t>(std::min<int>(count, WINDOW_CONSOLE_COLUMNS)) * CONSOLE_CELL_BYTES;
    uint8_t* target = cells_.pixels() + row * cells_.pitch();
    if (std::memcmp(target, cells, bytes) != 0) {
        std::memcpy(target, cells, bytes);
        textureStale_ = true;
    }
    // Row writes outside a frame bracket show once the last row is written.
    if (!inFrame_ && row == WINDOW_CONSOLE_ROWS - 1) present();
}

void SdlWindowConsole::writeStatusLine(const char* text, uint32_t length) {
    uint8_t line[WINDOW_CONSOLE_COLUMNS * CONSOLE_CELL_BYTES];
    fillBlank(line, WINDOW_CONSOLE_COLUMNS);
    for (uint32_t i = 0; i < length && i < uint32_t(WINDOW_CONSOLE_COLUMNS); ++i)
        line[i * CONSOLE_CELL_BYTES] = static_cast<uint8_t>(text[i]);
    if (std::memcmp(statusCells_.pixels(), line, sizeof line) == 0) return;
    std::memcpy(statusCells_.pixels(), line, sizeof line);
    statusStale_ = true;
    if (!inFrame_) present();
}

void SdlWindowConsole::beginFrame() {
    inFrame_ = true;
}

void SdlWindowConsole::endFrame() {
    inFrame_ = false;
    present();
}

uint32_t SdlWindowConsole::pendingInputEvents() {
    handleWindowEvents();
    return static_cast<uint32_t>(eventCount_);
}

bool SdlWindowConsole::readInputEvent(ConsoleInputEvent& event) {
    if (eventCount_ == 0) return false;
    event = events_[eventHead_];
    eventHead_ = (eventHead_ + 1) % EVENT_QUEUE_SIZE;
    --eventCount_;
    return true;
}

void SdlWindowConsole::queueInput(const ConsoleInputEvent& event) {
    // A full queue drops the newest event, as a console's input buffer would
    // hold no more; the frame loop empties it every frame. An Escape (or a
    // close request) takes the newest one's place instead: ending the show must
    // not be lost behind keys pressed during the start-up wait.
    if (eventCount_ == EVENT_QUEUE_SIZE) {
        if (event.virtualKeyCode == CONSOLE_VK_ESCAPE)
            events_[(eventHead_ + eventCount_ - 1) % EVENT_QUEUE_SIZE] = event;
        return;
    }
    events_[(eventHead_ + eventCount_) % EVENT_QUEUE_SIZE] = event;
    ++eventCount_;
}

void SdlWindowConsole::queueEscape() {
    queueInput({CONSOLE_KEY_EVENT, 1, CONSOLE_VK_ESCAPE});
}

void SdlWindowConsole::handleWindowEvents() {
    if (window_ == nullptr) return;
    bool repaint = false;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        handleEvent(event);
        if (event.type == SDL_WINDOWEVENT) {
            const uint8_t what = event.window.event;
            repaint = repaint || what == SDL_WINDOWEVENT_EXPOSED ||
                      what == SDL_WINDOWEVENT_SIZE_CHANGED || what == SDL_WINDOWEVENT_RESTORED;
        } else if (event.type == SDL_RENDER_TARGETS_RESET ||
                   event.type == SDL_RENDER_DEVICE_RESET) {
            textureStale_ = true;
            statusStale_ = true;
            repaint = true;
        }
    }
    // Between frames (the start-up wait) nothing else would show the new size.
    if (repaint && !inFrame_) present();
}

void SdlWindowConsole::handleEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_KEYDOWN: {
            const SDL_Keysym& key = event.key.keysym;
            if (key.sym == SDLK_F11 || ((key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER) &&
                                        (key.mod & KMOD_ALT) != 0)) {
                if (event.key.repeat == 0) toggleFullScreen();
                break;
            }
            // Shortcuts with Ctrl, Alt or the system key belong to the desktop.
            if ((key.mod & (KMOD_CTRL | KMOD_ALT | KMOD_GUI)) != 0 && key.sym != SDLK_ESCAPE) break;
            const uint16_t virtualKey = virtualKeyOf(key.sym);
            if (virtualKey != 0 && (event.key.repeat == 0 || repeats(virtualKey)))
                queueInput({CONSOLE_KEY_EVENT, 1, virtualKey});
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button == SDL_BUTTON_LEFT) handleClick(event.button.x, event.button.y);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                if (!closeRequested_) queueEscape();
                closeRequested_ = true;
                // Gone from the screen at once; the show ends after its next frame.
                SDL_HideWindow(window_);
            }
            break;
        case SDL_QUIT:
            // The last window closed, or the process was asked to terminate.
            if (!closeRequested_) queueEscape();
            closeRequested_ = true;
            break;
        default:
            break;
    }
}

void SdlWindowConsole::handleClick(int windowX, int windowY) {
    // Clicks come in window coordinates, the picture's place in drawable pixels
    // (more of them on a high-DPI screen).
    int windowWidth = 0, windowHeight = 0, drawableWidth = 0, drawableHeight = 0;
    SDL_GetWindowSize(window_, &windowWidth, &windowHeight);
    if (renderer_ != nullptr) SDL_GetRendererOutputSize(renderer_, &drawableWidth, &drawableHeight);
    if (windowWidth <= 0 || windowHeight <= 0) return;
    const int64_t x = int64_t(windowX) * drawableWidth / windowWidth;
    const int64_t y = int64_t(windowY) * drawableHeight / windowHeight;
    const PictureRect picture = pictureRect();
    if (x >= picture.x && x < picture.x + picture.width && y >= picture.y &&
        y < picture.y + picture.height)
        queueInput({CONSOLE_KEY_EVENT, 1, CONSOLE_VK_POINTER});
}

void SdlWindowConsole::toggleFullScreen() {
    SDL_SetWindowFullscreen(window_, fullScreen() ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

bool SdlWindowConsole::fullScreen() const {
    return window_ != nullptr && (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
}

PictureAndStrip SdlWindowConsole::layout() const {
    int width = 0, height = 0;
    if (renderer_ != nullptr) SDL_GetRendererOutputSize(renderer_, &width, &height);
    return placePictureAndStrip(width, height, PICTURE_WIDTH, PICTURE_HEIGHT, STRIP_HEIGHT);
}

PictureRect SdlWindowConsole::pictureRect() const {
    return layout().picture;
}

// Brings the texture up to the cells if needed, then draws the picture in its
// place on black into the renderer's back buffer.
bool SdlWindowConsole::draw() {
    if (renderer_ == nullptr) return false;
    if (textureStale_) {
        void* pixels = nullptr;
        int pitch = 0;
        if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) != 0) return false;
        drawConsoleLookInto(cells_, static_cast<uint8_t*>(pixels), static_cast<size_t>(pitch));
        SDL_UnlockTexture(texture_);
        textureStale_ = false;
    }
    if (statusStale_) {
        void* pixels = nullptr;
        int pitch = 0;
        if (SDL_LockTexture(statusTexture_, nullptr, &pixels, &pitch) != 0) return false;
        drawConsoleLookInto(statusCells_, static_cast<uint8_t*>(pixels),
                            static_cast<size_t>(pitch));
        SDL_UnlockTexture(statusTexture_);
        statusStale_ = false;
    }
    const PictureAndStrip place = layout();
    const SDL_Rect picture{place.picture.x, place.picture.y, place.picture.width,
                           place.picture.height};
    const SDL_Rect strip{place.strip.x, place.strip.y, place.strip.width, place.strip.height};
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    return SDL_RenderCopy(renderer_, texture_, nullptr, &picture) == 0 &&
           SDL_RenderCopy(renderer_, statusTexture_, nullptr, &strip) == 0;
}

void SdlWindowConsole::present() {
    if (draw()) SDL_RenderPresent(renderer_);
}

bool SdlWindowConsole::readBack(RgbaImage& image) {
    image = RgbaImage{};
    if (!draw()) return false;
    int width = 0, height = 0;
    if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0) return false;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    if (SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_RGBA32, image.pixels.data(),
                             width * 4) != 0) {
        image = RgbaImage{};
        return false;
    }
    return true;
}

void WindowEventClock::sleep(uint32_t milliseconds) {
    // Slices short enough that a key or a resize is answered without delay.
    constexpr uint32_t SLICE_MS = 4;
    console_.handleWindowEvents();
    while (milliseconds > 0) {
        const uint32_t slice = std::min(milliseconds, SLICE_MS);
        base_->sleep(slice);
        milliseconds -= slice;
        console_.handleWindowEvents();
    }
}
