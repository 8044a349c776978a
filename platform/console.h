// The console as the show uses it: a title, a screen buffer of character cells
// written one row at a time, plain text output and a queue of input events.
// The show was made for the Windows console; each operation notes the console
// call it stands for, and every backend behaves as that call does.
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

    // Names the show's window (SetConsoleTitleA).
    virtual void setTitle(const char* title) = 0;
    // Asks for a screen of `columns` x `rows` cells; the screen the backend has may
    // differ (SetConsoleScreenBufferSize).
    virtual void setScreenBufferSize(int16_t columns, int16_t rows) = 0;
    // Drops every input event that arrived before the show (FlushConsoleInputBuffer).
    virtual void flushInput() = 0;
    // Writes start-up text at the cursor, as a console shows written text (WriteConsoleA).
    virtual void writeText(const char* text, uint32_t length) = 0;

    // Puts `count` cells onto screen row `row`, from column 0; `cells` holds
    // `count` CHAR_INFO records (WriteConsoleOutputA of a count x 1 buffer).
    virtual void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) = 0;
    // Bracket the row writes of one frame, so that a backend can send the frame as
    // one piece. The Windows console needs neither.
    virtual void beginFrame() {}
    virtual void endFrame() {}

    // A line about how the show will look on this console, shown among the
    // start-up lines; null when there is nothing to say.
    virtual const char* startupNotice() const { return nullptr; }

    // How many input events wait to be read (GetNumberOfConsoleInputEvents).
    virtual uint32_t pendingInputEvents() = 0;
    // Takes the oldest waiting event; false if there was none (ReadConsoleInputA, one record).
    virtual bool readInputEvent(ConsoleInputEvent& event) = 0;
};
