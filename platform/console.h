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

// The keys the show and its player controls answer, as Windows virtual-key
// codes; every backend reports its keys with these codes. Letters and digits
// are their upper-case ASCII codes.
constexpr uint16_t CONSOLE_VK_ESCAPE = 0x1B;
constexpr uint16_t CONSOLE_VK_SPACE = 0x20;
constexpr uint16_t CONSOLE_VK_PAGE_UP = 0x21;    // VK_PRIOR
constexpr uint16_t CONSOLE_VK_PAGE_DOWN = 0x22;  // VK_NEXT
constexpr uint16_t CONSOLE_VK_HOME = 0x24;
constexpr uint16_t CONSOLE_VK_LEFT = 0x25;
constexpr uint16_t CONSOLE_VK_UP = 0x26;
constexpr uint16_t CONSOLE_VK_RIGHT = 0x27;
constexpr uint16_t CONSOLE_VK_DOWN = 0x28;
constexpr uint16_t CONSOLE_VK_COMMA = 0xBC;   // VK_OEM_COMMA
constexpr uint16_t CONSOLE_VK_PERIOD = 0xBE;  // VK_OEM_PERIOD
// A click or tap on the picture: pause / resume, as the space bar.
constexpr uint16_t CONSOLE_VK_POINTER = 0x01;  // VK_LBUTTON

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

    // The player's status line (position, scene, paused, volume). A console
    // with room for it outside the picture (a row below it, a strip under a
    // window) answers true and shows what writeStatusLine gives it; otherwise
    // the frame's caller puts the line over the picture's last row itself.
    virtual bool hasStatusRow() const { return false; }
    // Shows `length` bytes of plain ASCII text as the status line, or clears
    // it when `length` is 0. Called only when hasStatusRow() is true.
    virtual void writeStatusLine(const char* /*text*/, uint32_t /*length*/) {}

    // How many input events wait to be read (GetNumberOfConsoleInputEvents).
    virtual uint32_t pendingInputEvents() = 0;
    // Takes the oldest waiting event; false if there was none (ReadConsoleInputA, one record).
    virtual bool readInputEvent(ConsoleInputEvent& event) = 0;
};
