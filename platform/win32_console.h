// The console on Windows: the process's own console (the one it was started in,
// or a new one), written with the console calls that the Console interface is
// modelled on. Cells go to the screen buffer row by row with WriteConsoleOutputA;
// keys come from ReadConsoleInputA, each with the virtual-key code of its
// record, key-ups and key repeats as the console reports them. Ctrl+C and Ctrl+Break arrive as an
// Escape key-down, so that the show ends in order. The cursor, its position and the output code
// page are given back on close and by the destructor.
//
// The player's status line goes on the row below the picture when the screen
// buffer has one and the window shows it; otherwise the caller puts it over the
// picture's last row.
//
// Windows' own types stay in the .cpp: the handles are kept as void*.
#pragma once

#include <cstdint>
#include <string>

#include "platform/console.h"

class Win32Console : public Console {
  public:
    Win32Console();
    ~Win32Console() override;
    Win32Console(const Win32Console&) = delete;
    Win32Console& operator=(const Win32Console&) = delete;

    // AllocConsole (failing as expected when a console is attached already), the
    // standard handles, and a check that both are console handles that answer.
    // False, with the reason in `problem` and nothing changed, when they are not.
    bool open(std::string& problem);
    // Shows the cursor again below the show and restores the code page.
    void close();

    void setTitle(const char* title) override;
    // SetConsoleScreenBufferSize. Where the window is wider or taller than the
    // buffer would be, the window is made smaller first (the call fails
    // otherwise); then the window is made as large as the buffer, as far as the
    // screen allows. If the visible area stays smaller, two lines say so and what
    // to do; the show runs anyway.
    void setScreenBufferSize(int16_t columns, int16_t rows) override;
    void flushInput() override;
    void writeText(const char* text, uint32_t length) override;
    void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) override;
    bool hasStatusRow() const override { return statusRow_; }
    // The text light grey on black on the row below the picture, blank after it.
    void writeStatusLine(const char* text, uint32_t length) override;
    uint32_t pendingInputEvents() override;
    bool readInputEvent(ConsoleInputEvent& event) override;

    // The visible part of the screen buffer after setScreenBufferSize.
    int16_t visibleColumns() const { return visibleColumns_; }
    int16_t visibleRows() const { return visibleRows_; }

  private:
    void* output_ = nullptr;
    void* input_ = nullptr;
    bool open_ = false;
    int16_t columns_ = 80;
    int16_t rows_ = 50;
    bool statusRow_ = false;  // the buffer has a visible row below the picture
    int16_t visibleColumns_ = 0;
    int16_t visibleRows_ = 0;
    unsigned savedOutputCodePage_ = 0;
    bool cursorHidden_ = false;
    bool savedCursorVisible_ = true;
    uint32_t pendingInterrupt_ = 0;  // a Ctrl+C still to be handed out as Escape
};

// Why the standard handles are not a usable console, for the one failure line.
std::string describeMissingConsole(bool outputWorks, bool inputWorks);
