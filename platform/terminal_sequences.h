// Every control sequence the program sends to a terminal: the frame encoder's
// cursor moves and colours, the show screen's set-up and restore, the title, and
// the one-line progress display on standard error.
#pragma once

#include <string_view>

namespace vt {

// Control sequence introducer; a CSI sequence is CSI, numbers separated by ';', a final byte.
inline constexpr std::string_view CSI = "\x1b[";
// Final bytes of the CSI sequences the encoder builds with numbers.
inline constexpr char CURSOR_UP = 'A';
inline constexpr char CURSOR_DOWN = 'B';
inline constexpr char CURSOR_FORWARD = 'C';
inline constexpr char CURSOR_BACKWARD = 'D';
inline constexpr char CURSOR_COLUMN = 'G';
inline constexpr char CURSOR_POSITION = 'H';
inline constexpr char PARAMETER_SEPARATOR = ';';
inline constexpr char SELECT_GRAPHIC_RENDITION = 'm';  // colours
// Colour parameters of SELECT_GRAPHIC_RENDITION: 24-bit (then r;g;b), a 256-colour
// table index, or the 16 colours as base + ANSI colour number 0-7.
inline constexpr std::string_view FOREGROUND_RGB = "38;2;";
inline constexpr std::string_view BACKGROUND_RGB = "48;2;";
inline constexpr std::string_view FOREGROUND_256 = "38;5;";
inline constexpr std::string_view BACKGROUND_256 = "48;5;";
inline constexpr unsigned FOREGROUND_DARK = 30;
inline constexpr unsigned BACKGROUND_DARK = 40;
inline constexpr unsigned FOREGROUND_BRIGHT = 90;
inline constexpr unsigned BACKGROUND_BRIGHT = 100;
// Single control characters (the cursor stays in its row or column).
inline constexpr std::string_view CARRIAGE_RETURN = "\r";
inline constexpr std::string_view LINE_FEED = "\n";
inline constexpr std::string_view BACKSPACE = "\b";
// Up one row in the same column.
inline constexpr std::string_view REVERSE_INDEX = "\x1bM";

// Drawing a frame: synchronised update around it (ignored where unknown).
inline constexpr std::string_view SYNC_BEGIN = "\x1b[?2026h";
inline constexpr std::string_view SYNC_END = "\x1b[?2026l";
// Before a full repaint: line feeds that keep the column (new-line mode off),
// full-screen scrolling region, default colours, then clear.
inline constexpr std::string_view RESET_AND_CLEAR = "\x1b[20l\x1b[r\x1b[0m\x1b[2J";

// Entering the show screen, and leaving it in reverse order: alternate screen,
// hidden cursor, no automatic wrap at the right margin. Leaving also ends a
// synchronised update cut short and resets the colours.
inline constexpr std::string_view ENTER_SHOW_SCREEN = "\x1b[?1049h\x1b[?25l\x1b[?7l";
inline constexpr std::string_view LEAVE_SHOW_SCREEN =
    "\x1b[?2026l\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";
inline constexpr std::string_view SHOW_CURSOR = "\x1b[?25h";
// Cancels an escape sequence (or character) that was cut short, so that the
// terminal reads what follows as it is meant.
inline constexpr std::string_view CANCEL = "\x18";

// A viewer's terminal served over the network: the show's screen (the alternate
// one, cursor hidden), and after the show the terminal as the viewer had it
// (default colours, cursor shown, the normal screen with the start-up lines).
inline constexpr std::string_view TAKE_VIEWER_SCREEN = "\x1b[?1049h\x1b[?25l";
inline constexpr std::string_view GIVE_BACK_VIEWER_SCREEN = "\x1b[0m\x1b[?25h\x1b[?1049l\r\n";

// The window title: saved and restored on the terminal's title stack, and set
// as TITLE_BEGIN, text without control characters, TITLE_END.
inline constexpr std::string_view PUSH_TITLE = "\x1b[22;0t";
inline constexpr std::string_view POP_TITLE = "\x1b[23;0t";
inline constexpr std::string_view TITLE_BEGIN = "\x1b]0;";
inline constexpr std::string_view TITLE_END = "\x07";

// A status line redrawn in place: CARRIAGE_RETURN, the text, ERASE_TO_LINE_END
// (removes what a longer previous text left); CLEAR_LINE takes it away.
inline constexpr std::string_view ERASE_TO_LINE_END = "\x1b[K";
inline constexpr std::string_view CLEAR_LINE = "\r\x1b[K";

}  // namespace vt
