// The console as the show uses it: a title, a screen buffer of character cells
// written one row at a time, plain text output and a queue of input events.
// Each operation maps onto one Windows console call (named beside it); the
// terminal and headless backends imitate what that call does.
#pragma once

#include <cstdint>

// One console cell in memory, laid out as a Windows CHAR_INFO: byte 0 the code
// page 437 character, byte 1 unused, bytes 2-3 the attribute word (bits 0-3
// foreground, bits 4-7 background; colour bits 1 blue, 2 green, 4 red, 8 bright).
constexpr int CONSOLE_CELL_BYTES = 4;

// One input record, reduced to what the frame loop looks at (INPUT_RECORD).
struct ConsoleInputEvent {
    uint16_t eventType = 0;  // CONSOLE_KEY_EVENT for a key, anything else is ignored
    uint8_t keyDown = 0;     // 1 for a key-down
    uint16_t virtualKeyCode = 0;
};

constexpr uint16_t CONSOLE_KEY_EVENT = 1;
constexpr uint16_t CONSOLE_VK_ESCAPE = 0x1B;

class Console {
  public:
    virtual ~Console() = default;

    virtual void setTitle(const char* title) = 0;  // SetConsoleTitleA
    virtual void setScreenBufferSize(int16_t columns,
                                     int16_t rows) = 0;             // SetConsoleScreenBufferSize
    virtual void flushInput() = 0;                                  // FlushConsoleInputBuffer
    virtual void writeText(const char* text, uint32_t length) = 0;  // WriteConsoleA

    // WriteConsoleOutputA of a buffer of `count` x 1 cells onto screen row `row`,
    // starting at column 0. `cells` holds `count` CHAR_INFO records.
    virtual void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) = 0;
    // Bracket the row writes of one frame, so that a backend can send the frame as
    // one piece. The Windows console needs neither.
    virtual void beginFrame() {}
    virtual void endFrame() {}

    // A line about how the show will look on this console, shown among the
    // start-up lines; null when there is nothing to say.
    virtual const char* startupNotice() const { return nullptr; }

    virtual uint32_t pendingInputEvents() = 0;                  // GetNumberOfConsoleInputEvents
    virtual bool readInputEvent(ConsoleInputEvent& event) = 0;  // ReadConsoleInputA, one record
};
