// The Windows console backend on a real console, read back through the console
// calls, and the whole program in that console ended by an injected Escape.
// Wine has a working console only on a terminal: the test run that provides one
// sets VORNAK_EXPECT_CONSOLE, and elsewhere these tests are skipped.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "image/console_look.h"
#include "platform/png_file.h"
#include "platform/win32_console.h"

namespace {

bool consoleExpected() {
    const char* expected = std::getenv("VORNAK_EXPECT_CONSOLE");
    return expected != nullptr && std::strcmp(expected, "1") == 0;
}

HANDLE output() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}
HANDLE input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

// The 80x50 cells at the top of the screen buffer.
std::vector<CHAR_INFO> readScreen() {
    std::vector<CHAR_INFO> cells(80 * 50);
    SMALL_RECT region{0, 0, 79, 49};
    if (!ReadConsoleOutputA(output(), cells.data(), COORD{80, 50}, COORD{0, 0}, &region))
        cells.clear();
    return cells;
}

std::string screenText(const std::vector<CHAR_INFO>& cells) {
    std::string text;
    for (size_t i = 0; i < cells.size(); ++i) {
        text += cells[i].Char.AsciiChar;
        if (i % 80 == 79) text += '\n';
    }
    return text;
}

void injectKey(WORD virtualKey, bool down) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
    record.Event.KeyEvent.uChar.AsciiChar =
        virtualKey == VK_ESCAPE || virtualKey == VK_SPACE ? char(virtualKey) : 'a';
    DWORD written = 0;
    WriteConsoleInputA(input(), &record, 1, &written);
}

void pressKeys(std::initializer_list<WORD> keys) {
    for (const WORD key : keys) {
        injectKey(key, true);
        injectKey(key, false);
    }
}

std::string programDirectory() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string directory = self;
    directory.erase(directory.find_last_of("\\/"));
    return directory;
}

// The program beside this test, started with `arguments` in this console.
PROCESS_INFORMATION startProgram(const std::string& arguments) {
    const std::string directory = programDirectory();
    std::string command = "\"" + directory + "\\vornak.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process))
        process.hProcess = nullptr;
    return process;
}

// The program's exit status once it ended within `milliseconds`; 99 otherwise.
DWORD waitForProgram(PROCESS_INFORMATION& process, DWORD milliseconds) {
    DWORD status = 99;
    if (WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 99);
    else
        GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

// The demo time the status line over the last row starts with (" M:SS.cc /"), or -1.
int64_t statusTime(const std::string& row) {
    unsigned minutes = 0, seconds = 0, hundredths = 0;
    if (std::sscanf(row.c_str(), " %u:%2u.%2u /", &minutes, &seconds, &hundredths) != 3) return -1;
    return (int64_t(minutes) * 60 + seconds) * 1000 + hundredths * 10;
}

class Win32ConsoleTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string problem;
        opened_ = console_.open(problem);
        if (!opened_ && !consoleExpected()) GTEST_SKIP() << "no console here: " << problem;
        ASSERT_TRUE(opened_) << problem;
        console_.setScreenBufferSize(80, 50);
    }

    Win32Console console_;
    bool opened_ = false;
};

TEST_F(Win32ConsoleTest, RowsLandOnTheirScreenRowsWithCharacterAndAttribute) {
    std::vector<uint8_t> row(80 * 4);
    for (int16_t r = 0; r < 50; ++r) {
        for (int c = 0; c < 80; ++c) {
            // Column 1: the full block of code page 437, as the text modes use it.
            row[c * 4] = c == 1 ? 0xDB : static_cast<uint8_t>('A' + (r + c) % 26);
            row[c * 4 + 1] = 0xEE;  // the high byte of the character field is not looked at
            const uint16_t attribute = c == 0 ? 0x1F : static_cast<uint16_t>((r + c) & 0xFF);
            row[c * 4 + 2] = static_cast<uint8_t>(attribute);
            row[c * 4 + 3] = 0;
        }
        console_.writeCellRow(r, row.data(), 80);
    }
    const std::vector<CHAR_INFO> screen = readScreen();
    ASSERT_EQ(screen.size(), 80u * 50u);
    for (int r = 0; r < 50; ++r) {
        for (int c = 0; c < 80; ++c) {
            const CHAR_INFO& cell = screen[r * 80 + c];
            const uint8_t expected = c == 1 ? 0xDB : static_cast<uint8_t>('A' + (r + c) % 26);
            ASSERT_EQ(static_cast<uint8_t>(cell.Char.AsciiChar), expected) << r << "," << c;
            ASSERT_EQ(cell.Attributes, c == 0 ? 0x1F : ((r + c) & 0xFF)) << r << "," << c;
        }
    }
}

TEST_F(Win32ConsoleTest, TitleTextAndBufferSizeReachTheConsole) {
    console_.setTitle("VORNAK test title");
    char title[64] = {};
    GetConsoleTitleA(title, sizeof title);
    EXPECT_STREQ(title, "VORNAK test title");

    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(output(), &info));
    EXPECT_EQ(info.dwSize.X, 80);
    EXPECT_EQ(info.dwSize.Y, 50);
    EXPECT_EQ(console_.visibleColumns(), 80);
    EXPECT_EQ(console_.visibleRows(), 50);

    SetConsoleCursorPosition(output(), COORD{0, 20});
    console_.writeText("Initialize VORNAK... ", 21);
    const std::string text = screenText(readScreen());
    EXPECT_EQ(text.substr(20 * 81, 21), "Initialize VORNAK... ");
}

// Every event pending now, read one record at a time. Wine's console on a
// terminal may add key events of its own (a stray Ctrl+Shift+2): the tests look
// for theirs among them.
std::vector<ConsoleInputEvent> readPending(Console& console) {
    std::vector<ConsoleInputEvent> events;
    for (uint32_t n = console.pendingInputEvents(); n > 0; --n) {
        ConsoleInputEvent event;
        if (!console.readInputEvent(event)) break;
        events.push_back(event);
    }
    return events;
}

bool isEscapeDown(const ConsoleInputEvent& event) {
    return event.eventType == CONSOLE_KEY_EVENT && event.keyDown == 1 &&
           event.virtualKeyCode == CONSOLE_VK_ESCAPE;
}

TEST_F(Win32ConsoleTest, KeysAreReadOneRecordAtATimeAndFlushDiscardsThem) {
    console_.flushInput();
    injectKey('A', true);
    injectKey(VK_ESCAPE, true);
    injectKey(VK_ESCAPE, false);
    const std::vector<ConsoleInputEvent> events = readPending(console_);
    ASSERT_GE(events.size(), 3u);
    std::vector<std::pair<uint16_t, uint8_t>> keys;
    for (const ConsoleInputEvent& event : events) {
        ASSERT_EQ(event.eventType, CONSOLE_KEY_EVENT);
        if (event.virtualKeyCode == 'A' || event.virtualKeyCode == CONSOLE_VK_ESCAPE)
            keys.emplace_back(event.virtualKeyCode, event.keyDown);
    }
    const std::vector<std::pair<uint16_t, uint8_t>> expected = {
        {'A', 1}, {CONSOLE_VK_ESCAPE, 1}, {CONSOLE_VK_ESCAPE, 0}};
    EXPECT_EQ(keys, expected);

    injectKey(VK_ESCAPE, true);
    console_.flushInput();
    for (const ConsoleInputEvent& event : readPending(console_))
        EXPECT_FALSE(isEscapeDown(event)) << "flushed";
}

TEST_F(Win32ConsoleTest, CloseShowsTheCursorBelowThePictureAndRestoresTheCodePage) {
    const UINT codePage = GetConsoleOutputCP();
    CONSOLE_CURSOR_INFO cursor;
    ASSERT_TRUE(GetConsoleCursorInfo(output(), &cursor));
    const BOOL wasVisible = cursor.bVisible;
    const std::vector<uint8_t> row(80 * 4, 0);
    console_.writeCellRow(0, row.data(), 80);
    ASSERT_TRUE(GetConsoleCursorInfo(output(), &cursor));
    EXPECT_FALSE(cursor.bVisible) << "hidden while the show is on screen";
    console_.close();
    ASSERT_TRUE(GetConsoleCursorInfo(output(), &cursor));
    EXPECT_EQ(cursor.bVisible, wasVisible);
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(output(), &info));
    EXPECT_EQ(info.dwCursorPosition.Y, 49);
    EXPECT_EQ(info.dwCursorPosition.X, 0);
    EXPECT_EQ(GetConsoleOutputCP(), codePage);
}

// The program as a person starts it in this console: its start-up lines, frames,
// then Escape ends it with status 0.
TEST_F(Win32ConsoleTest, ProgramShowsStartLinesThenFramesAndEndsOnEscape) {
    console_.close();
    PROCESS_INFORMATION process = startProgram("");
    ASSERT_NE(process.hProcess, nullptr) << GetLastError();

    // Poll the screen: the start-up lines, then frames over them.
    bool sawInitialize = false;
    bool sawStart = false;
    int framesSeen = 0;
    std::vector<CHAR_INFO> previous;
    const DWORD begin = GetTickCount();
    while (GetTickCount() - begin < 120000 && framesSeen < 10) {
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;
        const std::vector<CHAR_INFO> screen = readScreen();
        const std::string text = screenText(screen);
        sawInitialize = sawInitialize || text.find("Initialize VORNAK... ") != std::string::npos;
        if (text.find("Start in 3 seconds...") != std::string::npos) {
            sawStart = true;
        } else if (sawStart && !screen.empty() &&
                   (previous.empty() ||
                    std::memcmp(screen.data(), previous.data(), screen.size() * 4) != 0)) {
            ++framesSeen;  // the start-up lines are drawn over, and the picture moves
            previous = screen;
        }
    }
    EXPECT_TRUE(sawInitialize);
    EXPECT_TRUE(sawStart);
    EXPECT_GE(framesSeen, 10) << screenText(readScreen());

    pressKeys({VK_ESCAPE});
    EXPECT_EQ(waitForProgram(process, 60000), 0u) << "Escape ends the show";
}

TEST_F(Win32ConsoleTest, ProgramPausesSeeksAndResumesOnTheFramesRenderDraws) {
    EXPECT_FALSE(console_.hasStatusRow()) << "an 80x50 buffer has no row below the picture";
    console_.close();
    PROCESS_INFORMATION show = startProgram("--no-sound --start 30000");
    ASSERT_NE(show.hProcess, nullptr) << GetLastError();
    // The status line's row (the picture's last) once `wanted` holds for it.
    std::vector<CHAR_INFO> screen;
    const auto statusWhen = [&](auto wanted) {
        std::string row;
        for (const DWORD begin = GetTickCount(); GetTickCount() - begin < 60000; Sleep(100)) {
            screen = readScreen();
            row = screenText(screen).substr(49 * 81, 80);
            if (wanted(row)) return row;
        }
        ADD_FAILURE() << "status line: " << row;
        return std::string();
    };
    // Frames, then `i` shows the status line; space pauses, a seek and steps stay paused.
    bool waited = false;
    statusWhen([&](const std::string&) {
        const bool waiting = screenText(screen).find("Start in 3 seconds") != std::string::npos;
        waited = waited || waiting;
        return waited && !waiting;
    });
    pressKeys({'I'});
    statusWhen([](const std::string& row) { return statusTime(row) >= 30000; });
    pressKeys({VK_SPACE});
    const int64_t pausedAt = statusTime(
        statusWhen([](const std::string& row) { return row.find("paused") != std::string::npos; }));
    // 5 s ahead, then two frames ahead, one back and one ahead: the keys are
    // handled a frame slot later, and the seek may take a while under Wine.
    pressKeys({VK_RIGHT, VK_OEM_PERIOD, VK_OEM_PERIOD, VK_OEM_COMMA, VK_OEM_PERIOD});
    const int64_t t = pausedAt + 5000 + 2 * 20;
    // Each key writes its frame row by row: the last one is whole once two reads agree.
    std::vector<CHAR_INFO> previous;
    const std::string paused = statusWhen([&](const std::string& row) {
        const bool settled =
            previous.size() == screen.size() &&
            std::memcmp(previous.data(), screen.data(), screen.size() * sizeof(CHAR_INFO)) == 0;
        previous = screen;
        return settled && statusTime(row) == t && row.find("paused") != std::string::npos;
    });
    ASSERT_FALSE(paused.empty());

    // The paused picture, but for the status line over its last row, is the one
    // --render draws for the time shown.
    const std::string directory = programDirectory() + "\\win32-player-render";
    PROCESS_INFORMATION render =
        startProgram("--render \"" + directory + "\" --at " + std::to_string(t));
    ASSERT_NE(render.hProcess, nullptr);
    ASSERT_EQ(waitForProgram(render, 300000), 0u);
    RgbaImage rendered, shown;
    const std::string files = directory + "\\" + std::to_string(t);
    const bool read = readPngRgba(files + ".png", rendered);
    for (const char* ending : {".png", "-rgb.png", ".ans", ".txt", ".html"})
        DeleteFileA((files + ending).c_str());
    RemoveDirectoryA(directory.c_str());
    ASSERT_TRUE(read);
    Surface cells;
    cells.create({80, 50}, CONSOLE_CELL_BYTES);
    for (int row = 0; row < 50; ++row)
        std::memcpy(cells.pixels() + row * cells.pitch(), &screen[size_t(row) * 80],
                    80 * sizeof(CHAR_INFO));
    ASSERT_TRUE(drawConsoleLook(cells, shown));
    cells.release();
    ASSERT_EQ(shown.pixels.size(), rendered.pixels.size());
    EXPECT_EQ(std::memcmp(shown.pixels.data(), rendered.pixels.data(), size_t(640) * 588 * 4), 0)
        << "at " << t;

    // Space plays on from there; q ends the show.
    pressKeys({VK_SPACE});
    statusWhen([&](const std::string& row) {
        return row.find("paused") == std::string::npos && statusTime(row) > t;
    });
    pressKeys({'Q'});
    EXPECT_EQ(waitForProgram(show, 60000), 0u);
}

}  // namespace

// Without a console (Wine with no terminal; a program whose handles were taken
// away) the program says so in one line and ends with status 1 at once.
TEST(Win32Program, WithoutAConsoleSaysSoInOneLineAndExitsWithOne) {
    std::string problem;
    Win32Console probe;
    if (probe.open(problem)) GTEST_SKIP() << "a console works here";

    char self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    std::string directory = self;
    directory.erase(directory.find_last_of("\\/"));
    const std::string errorsPath = directory + "\\win32-program-errors.txt";

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE errors = CreateFileA(errorsPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(errors, INVALID_HANDLE_VALUE);
    HANDLE nothing =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = nothing;
    startup.hStdError = errors;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + directory + "\\vornak.exe\"";
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               directory.c_str(), &startup, &process));
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "never a hang";
    DWORD status = 99;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(errors);
    CloseHandle(nothing);
    EXPECT_EQ(status, 1u);

    char text[512] = {};
    HANDLE read = CreateFileA(errorsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    ReadFile(read, text, sizeof text - 1, &got, nullptr);
    CloseHandle(read);
    DeleteFileA(errorsPath.c_str());
    const std::string line(text, got);
    EXPECT_EQ(line.rfind("vornak: needs a console", 0), 0u) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
}

TEST(Win32Program, MissingConsoleHandlesAreDescribedByWhatIsMissing) {
    EXPECT_NE(describeMissingConsole(false, false).find("double-click"), std::string::npos);
    EXPECT_NE(describeMissingConsole(false, true).find("output"), std::string::npos);
    EXPECT_NE(describeMissingConsole(true, false).find("input"), std::string::npos);
}

// A console whose window cannot show 80x50 (here a terminal of 80x40) gets one
// note among the start-up lines, saying what it shows and what to do.
TEST(Win32ConsoleSmall, StartUpLinesSayWhatTheWindowShowsAndWhatToDo) {
    const char* expected = std::getenv("VORNAK_EXPECT_SMALL_CONSOLE");
    if (expected == nullptr || std::strcmp(expected, "1") != 0)
        GTEST_SKIP() << "needs a console of fewer than 50 rows";
    Win32Console console;
    std::string problem;
    ASSERT_TRUE(console.open(problem)) << problem;
    console.setScreenBufferSize(80, 50);
    EXPECT_LT(console.visibleRows(), 50);

    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(output(), &info));
    std::vector<CHAR_INFO> cells(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y);
    SMALL_RECT region{0, 0, static_cast<SHORT>(info.dwSize.X - 1),
                      static_cast<SHORT>(info.dwSize.Y - 1)};
    ASSERT_TRUE(ReadConsoleOutputA(output(), cells.data(), info.dwSize, COORD{0, 0}, &region));
    std::string text;
    for (const CHAR_INFO& cell : cells) text += cell.Char.AsciiChar;
    const std::string note = "This console shows " + std::to_string(console.visibleColumns()) +
                             "x" + std::to_string(console.visibleRows()) +
                             " characters of the show's 80x50.";
    EXPECT_NE(text.find(note), std::string::npos) << text;
    EXPECT_NE(text.find("Press Alt+Enter for full screen"), std::string::npos) << text;
}
