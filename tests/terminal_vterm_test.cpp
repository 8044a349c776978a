// The terminal encoder's bytes as a real terminal emulator (libvterm) reads
// them: after every frame of the whole show, in every colour mode, the
// emulator's screen shows the intended picture cell by cell. Along the way the
// terminal is resized, written over from outside, and starts out partly drawn.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/terminal_encoder.h"
#include "platform/terminal_sequences.h"
#include "tests/show_cell_frames.h"
#include "tests/vterm_screen.h"

namespace {

// Under the sanitizers the show itself runs ten times slower: there the first
// part of it (all the situations below but the last) is fed, and every third
// frame compared.
#if defined(__SANITIZE_ADDRESS__)
#define VORNAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNAK_SANITIZED 1
#endif
#endif
#ifdef VORNAK_SANITIZED
constexpr uint32_t CHECK_EVERY = 3;
constexpr uint32_t LAST_FRAME = 2500;
#else
constexpr uint32_t CHECK_EVERY = 1;
constexpr uint32_t LAST_FRAME = 0;  // the whole show
#endif

constexpr int COLUMNS = 80;
constexpr int ROWS = 50;

// Every control the encoder sends is one that xterm, VTE, kitty, alacritty,
// tmux and screen all read alike: CR, LF, BS, index, reverse index, and CSI
// sequences for cursor moves, colours, clearing, the scrolling region, new-line
// mode off and the synchronised-update mode. Answers the first other one, or "".
std::string unusualControl(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r' || byte == '\n' || byte == '\b') continue;
        if (byte >= 0x20 && byte != 0x7F) continue;
        if (byte != 0x1B || i + 1 >= bytes.size()) return std::string(bytes.substr(i, 8));
        if (bytes[i + 1] == 'D' || bytes[i + 1] == 'M') {
            ++i;
            continue;
        }
        if (bytes[i + 1] != '[') return std::string(bytes.substr(i, 8));
        size_t end = i + 2;
        while (end < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[end])) ||
                                      bytes[end] == ';' || bytes[end] == '?')) {
            ++end;
        }
        if (end == bytes.size()) return std::string(bytes.substr(i));
        const std::string_view sequence = bytes.substr(i, end + 1 - i);
        const bool private_ = sequence.size() > 2 && sequence[2] == '?';
        const bool known =
            private_ ? sequence == vt::SYNC_BEGIN || sequence == vt::SYNC_END
                     : sequence == "\x1b[20l" ||
                           std::string_view("ABCDGHJmr").find(bytes[end]) != std::string_view::npos;
        if (!known) return std::string(sequence);
        i = end;
    }
    return "";
}

// One colour mode: an encoder and the emulator that reads its bytes.
struct Terminal {
    TerminalColors colors;
    int rows = ROWS;
    int columns = COLUMNS;
    TerminalEncoder encoder{colors, COLUMNS, ROWS};
    Emulator emulator{ROWS, COLUMNS};
    int mismatchedFrames = 0;

    void resize(int newRows, int newColumns) {
        rows = newRows;
        columns = newColumns;
        emulator.resize(rows, columns);
        encoder.setTerminalSize(int16_t(columns), int16_t(rows));
    }

    // Compares every cell the terminal shows; reports the first difference of a frame.
    void check(const uint8_t* cells, uint32_t frame) {
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                Look intended{0, DEFAULT_COLOR, 0};  // outside the picture: cleared
                if (row < ROWS && column < COLUMNS)
                    intended = cellLook(colors, cells + (row * COLUMNS + column) * 4);
                bool singleWidth = true;
                const Look shown = emulator.look(row, column, singleWidth);
                if (shown != intended || !singleWidth) {
                    ADD_FAILURE() << "colours " << int(colors) << ", frame " << frame << ", row "
                                  << row << ", column " << column << ": shows " << describe(shown)
                                  << ", intended " << describe(intended);
                    ++mismatchedFrames;
                    return;
                }
            }
        }
    }
};

// What the screen may hold before the first frame: start-up lines, colours
// left set, a scrolling region, the cursor somewhere, then the show screen.
constexpr std::string_view PARTLY_DRAWN =
    "Initialize VORNAK... \r\nStart in 3 seconds...\x1b[31;44mleft over\x1b[5;20r\x1b[12;7H"
    "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[33;41m\x1b[3;3Hold picture \xE2\x96\x92\xE2\x96\x92";

// Another program writing into the show screen (then the show repaints fully,
// as it does after a resume).
constexpr std::string_view WRITTEN_OVER = "\x1b[0m\x1b[7;9Hmessage\x1b[1;44m\x1b[40;70Hx\x1b[K";

}  // namespace

TEST(TerminalEmulator, WholeShowLooksAsIntendedInEveryColorMode) {
    Terminal terminals[] = {
        {TerminalColors::TrueColor}, {TerminalColors::Palette256}, {TerminalColors::Ansi16}};
    for (Terminal& terminal : terminals) terminal.emulator.feed(PARTLY_DRAWN);
    // The 16-colour one keeps automatic wrap on: drawing the last column must not scroll.
    terminals[2].emulator.feed("\x1b[?7h");

    uint32_t frames = 0;
    const bool ran = forEachShowFrame(
        [&](const uint8_t* cells, uint32_t frame) {
            frames = frame;
            for (Terminal& terminal : terminals) {
                if (terminal.mismatchedFrames > 3) continue;  // enough said
                switch (frame) {
                    case 1500:
                        terminal.resize(30, 60);  // smaller: the top-left part
                        break;
                    case 1700:
                        terminal.resize(61, 97);  // bigger: cleared around the picture
                        break;
                    case 1900:
                        terminal.resize(ROWS, COLUMNS);
                        break;
                    case 2200:
                    case 7000:
                        terminal.emulator.feed(WRITTEN_OVER);
                        terminal.encoder.invalidate();
                        break;
                    default:
                        break;
                }
                const std::string_view bytes = terminal.encoder.encodeFrame(cells, COLUMNS * 4);
                if (frame % CHECK_EVERY == 0 || frame == 1) {
                    const std::string unusual = unusualControl(bytes);
                    if (!unusual.empty()) {
                        ADD_FAILURE()
                            << "frame " << frame << " sends " << ::testing::PrintToString(unusual);
                        ++terminal.mismatchedFrames;
                    }
                }
                terminal.emulator.feed(bytes);
                if (frame % CHECK_EVERY == 0 || frame == 1) terminal.check(cells, frame);
            }
        },
        LAST_FRAME);
    ASSERT_TRUE(ran);
    EXPECT_GT(frames, LAST_FRAME == 0 ? 8000u : LAST_FRAME - 1);
    for (const Terminal& terminal : terminals) EXPECT_EQ(terminal.mismatchedFrames, 0);
}
