#define WIN32_LEAN_AND_MEAN
#include "platform/win32_console.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// The cells are CHAR_INFO records already: byte 0 the character, bytes 2-3 the
// attribute word.
static_assert(sizeof(CHAR_INFO) == CONSOLE_CELL_BYTES);
static_assert(offsetof(CHAR_INFO, Attributes) == 2);

// The show's characters are code page 437 (block shades, box lines).
constexpr UINT SHOW_CODE_PAGE = 437;

// Ctrl+C and Ctrl+Break presses, counted on the thread Windows starts for them.
std::atomic<uint32_t> g_interrupts{0};

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        // The first press asks for an orderly end; a second one, if the show did
        // not react, gets the default handling (the process ends).
        return g_interrupts.fetch_add(1) == 0 ? TRUE : FALSE;
    }
    return FALSE;
}

bool handleIsConsoleOutput(HANDLE handle) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetConsoleScreenBufferInfo(handle, &info) != 0;
}

bool handleIsConsoleInput(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

std::string describeMissingConsole(bool outputWorks, bool inputWorks) {
    if (!outputWorks && !inputWorks)
        return "needs a console: start it by double-click, or from cmd.exe, PowerShell or "
               "Windows Terminal, with input and output not redirected";
    if (!outputWorks)
        return "needs its output on the console: start it without redirecting its output";
    return "needs its input from the console: start it without redirecting its input";
}

Win32Console::Win32Console() = default;

Win32Console::~Win32Console() {
    close();
}

bool Win32Console::open(std::string& problem) {
    if (open_) return true;
    // Fails when the process has a console already (started from a console, or a
    // console program started by double-click); the handles tell whether it works.
    AllocConsole();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const bool outputWorks = handleIsConsoleOutput(output);
    const bool inputWorks = handleIsConsoleInput(input);
    if (!outputWorks || !inputWorks) {
        problem = describeMissingConsole(outputWorks, inputWorks);
        return false;
    }
    output_ = output;
    input_ = input;
    open_ = true;

    savedOutputCodePage_ = GetConsoleOutputCP();
    SetConsoleOutputCP(SHOW_CODE_PAGE);
    g_interrupts = 0;
    pendingInterrupt_ = 0;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    return true;
}

void Win32Console::close() {
    if (!open_) return;
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    HANDLE output = static_cast<HANDLE>(output_);
    if (cursorHidden_) {
        // The frames never moved the cursor: put it on a line of its own under
        // the picture (scrolling the buffer by one line if it ends there), so
        // that whatever comes next in this console does not overwrite it.
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(output, &info)) {
            if (statusRow_) writeStatusLine("", 0);
            if (info.dwSize.Y > rows_) {
                SetConsoleCursorPosition(output, COORD{0, rows_});
            } else {
                SetConsoleCursorPosition(output, COORD{0, static_cast<SHORT>(info.dwSize.Y - 1)});
                DWORD written = 0;
                WriteConsoleA(output, "\n", 1, &written, nullptr);
            }
        }
        CONSOLE_CURSOR_INFO cursor;
        if (GetConsoleCursorInfo(output, &cursor)) {
            cursor.bVisible = savedCursorVisible_ ? TRUE : FALSE;
            SetConsoleCursorInfo(output, &cursor);
        }
        cursorHidden_ = false;
    }
    if (savedOutputCodePage_ != 0) SetConsoleOutputCP(savedOutputCodePage_);
    open_ = false;
}

void Win32Console::setTitle(const char* title) {
    if (open_) SetConsoleTitleA(title);
}

void Win32Console::setScreenBufferSize(int16_t columns, int16_t rows) {
    columns_ = std::max<int16_t>(columns, 1);
    rows_ = std::max<int16_t>(rows, 1);
    statusRow_ = false;
    if (!open_) return;
    HANDLE output = static_cast<HANDLE>(output_);
    const COORD size{std::max<int16_t>(columns, 1), rows_};
    if (!SetConsoleScreenBufferSize(output, size)) {
        // The buffer may not be smaller than the window: shrink the window into it
        // and try once more.
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(output, &info)) {
            SMALL_RECT window = info.srWindow;
            window.Right =
                static_cast<SHORT>(std::min<int>(window.Right, window.Left + size.X - 1));
            window.Bottom =
                static_cast<SHORT>(std::min<int>(window.Bottom, window.Top + size.Y - 1));
            SetConsoleWindowInfo(output, TRUE, &window);
        }
        SetConsoleScreenBufferSize(output, size);
    }
    // Now the window as large as the buffer, within what the screen holds.
    const COORD largest = GetLargestConsoleWindowSize(output);
    SMALL_RECT wanted{0, 0, static_cast<SHORT>(size.X - 1), static_cast<SHORT>(size.Y - 1)};
    if (largest.X > 0 && largest.Y > 0) {
        wanted.Right = static_cast<SHORT>(std::min<int>(wanted.Right, largest.X - 1));
        wanted.Bottom = static_cast<SHORT>(std::min<int>(wanted.Bottom, largest.Y - 1));
    }
    SetConsoleWindowInfo(output, TRUE, &wanted);

    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(output, &info)) return;
    visibleColumns_ = static_cast<int16_t>(info.srWindow.Right - info.srWindow.Left + 1);
    visibleRows_ = static_cast<int16_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
    // A buffer that stayed taller than asked (the resize failed) may show a row
    // under the picture; only then is there room for the status line outside it.
    statusRow_ = info.dwSize.Y > rows_ && info.srWindow.Top == 0 && info.srWindow.Bottom >= rows_;
    if (visibleColumns_ >= size.X && visibleRows_ >= size.Y) return;
    char note[200];
    const int length = std::snprintf(
        note, sizeof note,
        "This console shows %dx%d characters of the show's %dx%d.\n"
        "Press Alt+Enter for full screen, or make the window larger or its font smaller.\n",
        visibleColumns_, visibleRows_, size.X, size.Y);
    if (length > 0) writeText(note, static_cast<uint32_t>(std::min<int>(length, sizeof note - 1)));
}

void Win32Console::flushInput() {
    if (open_) FlushConsoleInputBuffer(static_cast<HANDLE>(input_));
}

void Win32Console::writeText(const char* text, uint32_t length) {
    if (!open_ || length == 0) return;
    DWORD written = 0;
    WriteConsoleA(static_cast<HANDLE>(output_), text, length, &written, nullptr);
}

void Win32Console::writeCellRow(int16_t row, const uint8_t* cells, int16_t count) {
    if (!open_ || row < 0 || count <= 0) return;
    HANDLE output = static_cast<HANDLE>(output_);
    if (!cursorHidden_) {
        // The cursor would blink in the middle of the picture.
        CONSOLE_CURSOR_INFO cursor;
        if (GetConsoleCursorInfo(output, &cursor)) {
            savedCursorVisible_ = cursor.bVisible != 0;
            cursor.bVisible = FALSE;
            SetConsoleCursorInfo(output, &cursor);
        }
        cursorHidden_ = true;
    }
    // One row as a count x 1 buffer onto screen row `row`; the console clips the
    // region to the one row the buffer holds.
    SMALL_RECT region{0, row, static_cast<SHORT>(count - 1), static_cast<SHORT>(rows_ - 1)};
    WriteConsoleOutputA(output, reinterpret_cast<const CHAR_INFO*>(cells), COORD{count, 1},
                        COORD{0, 0}, &region);
}

void Win32Console::writeStatusLine(const char* text, uint32_t length) {
    if (!open_ || !statusRow_) return;
    // A row of the widest screen buffer the console allows.
    constexpr int MOST_COLUMNS = 512;
    CHAR_INFO line[MOST_COLUMNS];
    const int16_t count = std::min<int16_t>(columns_, MOST_COLUMNS);
    for (int16_t column = 0; column < count; ++column) {
        line[column].Char.AsciiChar = uint32_t(column) < length ? text[column] : ' ';
        line[column].Attributes = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    }
    SMALL_RECT region{0, rows_, static_cast<SHORT>(count - 1), rows_};
    WriteConsoleOutputA(static_cast<HANDLE>(output_), line, COORD{count, 1}, COORD{0, 0}, &region);
}

uint32_t Win32Console::pendingInputEvents() {
    if (!open_) return 0;
    if (g_interrupts.load() != 0 && pendingInterrupt_ == 0) pendingInterrupt_ = 1;
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(static_cast<HANDLE>(input_), &count)) count = 0;
    return static_cast<uint32_t>(count) + (pendingInterrupt_ == 1 ? 1u : 0u);
}

bool Win32Console::readInputEvent(ConsoleInputEvent& event) {
    if (!open_) return false;
    if (pendingInterrupt_ == 1) {
        pendingInterrupt_ = 2;  // handed out once
        event.eventType = CONSOLE_KEY_EVENT;
        event.keyDown = 1;
        event.virtualKeyCode = CONSOLE_VK_ESCAPE;
        return true;
    }
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputA(static_cast<HANDLE>(input_), &record, 1, &read) || read != 1)
        return false;
    event = ConsoleInputEvent{};
    event.eventType = record.EventType;
    if (record.EventType == KEY_EVENT) {
        event.keyDown = record.Event.KeyEvent.bKeyDown ? 1 : 0;
        event.virtualKeyCode = record.Event.KeyEvent.wVirtualKeyCode;
    }
    return true;
}
