// The console as an SDL2 window: an 80x50 screen buffer of cells shown in the
// console's own look (the 8x12 font in the 16-colour palette, as drawConsoleLook
// draws it), scaled by a whole factor, centred on black. Text written to it
// lands in the cells as a console prints it; each frame's row writes update the
// cells and the frame's end presents them, once.
//
// Under the picture, a strip one cell row high shows the player's status line;
// the window's size leaves room for it, so the picture keeps its scale.
//
// Keys reach the frame loop as virtual-key key-downs: Escape, space, the arrows,
// Page Up/Down, Home, comma, period, letters and digits (held down, the keys
// that move or step repeat; the others act once). A request to close the window
// becomes an Escape, so that the show ends through its orderly shutdown, and a
// left click (or a tap) on the picture a CONSOLE_VK_POINTER. Alt+Enter and F11
// switch between a window and the desktop's full screen.
//
// Window events are handled whenever the frame loop asks for input, and while
// the show sleeps through WindowEventClock, whose sleep keeps the window
// responsive during the start-up wait.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/rgba_image.h"
#include "image/surface.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/window_geometry.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

constexpr int WINDOW_CONSOLE_COLUMNS = 80;
constexpr int WINDOW_CONSOLE_ROWS = 50;
// A cell's attribute where nothing but text was written: light grey on black.
constexpr uint8_t WINDOW_CONSOLE_TEXT_ATTRIBUTE = 0x07;
// The status strip under the picture, in picture pixels: one row of cells.
constexpr int WINDOW_STATUS_STRIP_HEIGHT = 12;

class SdlWindowConsole : public Console {
  public:
    SdlWindowConsole();
    ~SdlWindowConsole() override;
    SdlWindowConsole(const SdlWindowConsole&) = delete;
    SdlWindowConsole& operator=(const SdlWindowConsole&) = delete;

    // Opens the window on the display SDL finds. With a size of 0 the window is
    // the largest whole multiple of the picture that fits the usable screen;
    // otherwise it has the given size (in screen coordinates). False, with the
    // reason and nothing left open, when there is no display or SDL fails.
    bool open(std::string& reason, int windowWidth = 0, int windowHeight = 0);
    // Closes the window. Done by the destructor too.
    void close();

    void setTitle(const char* title) override;
    // The screen buffer stays 80x50, the only size the show asks for.
    void setScreenBufferSize(int16_t columns, int16_t rows) override;
    void flushInput() override;
    void writeText(const char* text, uint32_t length) override;
    void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) override;
    void beginFrame() override;
    void endFrame() override;
    bool hasStatusRow() const override { return true; }
    // Shows the text in the strip, light grey on black, at once between frames.
    void writeStatusLine(const char* text, uint32_t length) override;
    uint32_t pendingInputEvents() override;
    bool readInputEvent(ConsoleInputEvent& event) override;

    // Handles every pending window event: keys, closing, resizing, exposure.
    void handleWindowEvents();

    // The screen buffer (80x50 cells of 4 bytes).
    const Surface& cells() const { return cells_; }
    bool fullScreen() const;
    // The status strip's cells (80x1).
    const Surface& statusCells() const { return statusCells_; }
    // Where the picture and the status strip are in the drawable area now.
    PictureRect pictureRect() const;
    PictureAndStrip layout() const;
    // Draws the current picture and reads the whole drawable area back without
    // presenting it, for checking what the window shows.
    bool readBack(RgbaImage& image);

  private:
    void handleEvent(const SDL_Event& event);
    void queueInput(const ConsoleInputEvent& event);
    void queueEscape();
    void handleClick(int windowX, int windowY);
    void toggleFullScreen();
    void printCharacter(uint8_t character);
    void newLine();
    bool draw();
    void present();

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    SDL_Texture* statusTexture_ = nullptr;
    bool videoStarted_ = false;
    bool textureStale_ = true;  // the texture does not hold the cells yet
    bool statusStale_ = true;   // nor the status texture the status cells
    bool inFrame_ = false;
    bool closeRequested_ = false;
    Surface cells_;
    Surface statusCells_;
    int cursorColumn_ = 0;
    int cursorRow_ = 0;
    static constexpr int EVENT_QUEUE_SIZE = 32;
    ConsoleInputEvent events_[EVENT_QUEUE_SIZE];
    int eventCount_ = 0;
    int eventHead_ = 0;
};

// A clock for a show in a window: the ticks of `base`, and a sleep that keeps
// handling the window's events in slices of a few milliseconds, so that the
// window moves, redraws and takes keys during the start-up wait too.
class WindowEventClock : public Clock {
  public:
    WindowEventClock(std::unique_ptr<Clock> base, SdlWindowConsole& console)
        : base_(std::move(base)), console_(console) {}

    uint32_t tickCount() override { return base_->tickCount(); }
    void sleep(uint32_t milliseconds) override;

  private:
    std::unique_ptr<Clock> base_;
    SdlWindowConsole& console_;
};
