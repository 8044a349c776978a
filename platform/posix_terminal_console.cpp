// The console's screen buffer, frames, title and keys, over the terminal output
// (posix_terminal_output) and the signal handling that restores it (posix_terminal_signals).
#include "platform/posix_terminal_console.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/posix_clock.h"
#include "platform/posix_terminal_output.h"
#include "platform/posix_terminal_signals.h"
#include "platform/terminal_sequences.h"

using namespace posix_terminal;

namespace {

// How long closing waits for output still queued before it is dropped.
constexpr int FLUSH_TIMEOUT_MS = 150;

void queryTerminalSize(int16_t& columns, int16_t& rows) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        columns = static_cast<int16_t>(std::min<unsigned>(size.ws_col, 32767));
        rows = static_cast<int16_t>(std::min<unsigned>(size.ws_row, 32767));
    } else {
        columns = 80;  // unknown: assume the full screen fits
        rows = 50;
    }
}

}  // namespace

PosixTerminalConsole::PosixTerminalConsole(TerminalColors colors)
    : colors_(chooseTerminalColors(colors, std::getenv("COLORTERM"), std::getenv("TERM"))) {
    setScreenBufferSize(80, 50);
}

PosixTerminalConsole::~PosixTerminalConsole() {
    close();
}

bool PosixTerminalConsole::open() {
    failure_.clear();
    notice_.clear();
    if (open_ || g_terminal.open) {
        failure_ = "vornak: the terminal is already in use by this program";
        return false;
    }
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) ||
        tcgetattr(STDIN_FILENO, &g_terminal.saved) != 0) {
        failure_ = "vornak: needs a terminal: run it with standard input and output on a terminal";
        return false;
    }
    const char* term = std::getenv("TERM");
    if (!terminalTypeHasCursorAddressing(term)) {
        failure_ = "vornak: needs a terminal that can place the cursor; TERM is ";
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
        // "literal" + std::string.
        if (term == nullptr || term[0] == 0) {
            failure_ += "not set";
        } else {
            failure_.append(1, '\'').append(term).append(1, '\'');
        }
        failure_ +=
            ": run it in a terminal emulator, or set TERM to its type (e.g. xterm-256color)";
        return false;
    }
    if (!openOutput()) {
        failure_ = "vornak: cannot write to the terminal";
        return false;
    }
    notice_ = nonUtf8LocaleNotice();

    // Raw, non-blocking keys; ISIG stays so that Ctrl-C, Ctrl-Z and Ctrl-\ still
    // raise signals, and OPOST so that text lines end as usual.
    g_terminal.raw = g_terminal.saved;
    g_terminal.raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    g_terminal.raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    g_terminal.raw.c_cc[VMIN] = 0;
    g_terminal.raw.c_cc[VTIME] = 0;
    g_terminal.show = g_terminal.raw;
    g_terminal.show.c_oflag &= ~static_cast<tcflag_t>(ONLCR);

    SignalBlock block;
    g_terminal.open = 1;
    g_terminal.showScreen = 0;
    g_terminal.titleSet = 0;
    g_terminal.atLineStart = 1;
    g_terminal.redraw = 1;
    g_terminal.interrupts = 0;
    interruptsSeen_ = 0;
    installHandlers();
    applyRawMode(false);
    open_ = true;
    return true;
}

void PosixTerminalConsole::close() {
    if (!open_) return;
    {
        SignalBlock block;
        // What the terminal has not taken yet gets a moment; then it is dropped.
        drainQueue(monotonicMs() + FLUSH_TIMEOUT_MS);
        restoreTerminal(RESTORE_TIMEOUT_MS);
        removeHandlers();
        closeOutput();
        g_terminal.open = 0;
    }
    open_ = false;
}

const char* PosixTerminalConsole::startupNotice() const {
    return notice_.empty() ? nullptr : notice_.c_str();
}

void PosixTerminalConsole::setTitle(const char* title) {
    if (!open_) return;
    SignalBlock block;
    const size_t length = std::min(std::strlen(title), sizeof g_terminal.title);
    // Control characters would end the title sequence early.
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(title[i]);
        g_terminal.title[i] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    }
    g_terminal.titleLength = length;
    if (g_terminal.titleSet) {
        queueOutput(vt::TITLE_BEGIN);
        queueOutput({g_terminal.title, g_terminal.titleLength});
        queueOutput(vt::TITLE_END);
    } else {
        sendTitle(QUEUE_IT);
    }
}

void PosixTerminalConsole::setScreenBufferSize(int16_t columns, int16_t rows) {
    columns_ = std::max<int16_t>(columns, 1);
    rows_ = std::max<int16_t>(rows, 1);
    screen_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_) * CONSOLE_CELL_BYTES,
                   0);
    statusCells_.assign(static_cast<size_t>(columns_) * CONSOLE_CELL_BYTES, 0);
    layOut();
    g_terminal.redraw = 1;
    if (!open_) return;

    // The terminal cannot be made bigger; say once what will be cut off.
    int16_t terminalColumns = 0;
    int16_t terminalRows = 0;
    queryTerminalSize(terminalColumns, terminalRows);
    if (terminalColumns >= columns_ && terminalRows >= rows_) return;
    char note[256];
    const int length =
        std::snprintf(note, sizeof note,
                      "This terminal is %dx%d; the show needs %dx%d and shows the top-left part.\n"
                      "To see it all, enlarge the window or reduce its font size, now or later.\n",
                      terminalColumns, terminalRows, columns_, rows_);
    if (length > 0) writeText(note, static_cast<uint32_t>(std::min<int>(length, sizeof note - 1)));
}

void PosixTerminalConsole::layOut() {
    int16_t terminalColumns = columns_;
    int16_t terminalRows = rows_;
    if (open_) queryTerminalSize(terminalColumns, terminalRows);
    layout_ = layoutFor(colors_, terminalColumns, terminalRows);
    // Sizes other than the show's stay at the top-left corner.
    if (columns_ != SHOW_COLUMNS || rows_ != SHOW_ROWS) layout_.left = layout_.top = 0;
    statusRowShown_ = terminalRows > layout_.top + rows_;
    canvasColumns_ = static_cast<int16_t>(columns_ + layout_.left);
    canvasRows_ = static_cast<int16_t>(rows_ + layout_.top + (statusRowShown_ ? 1 : 0));
    canvas_.assign(
        static_cast<size_t>(canvasColumns_) * static_cast<size_t>(canvasRows_) * CONSOLE_CELL_BYTES,
        0);
    encoder_ = std::make_unique<TerminalEncoder>(colors_, canvasColumns_, canvasRows_);
    encoder_->setTerminalSize(terminalColumns, terminalRows);
}

void PosixTerminalConsole::writeStatusLine(const char* text, uint32_t length) {
    // Light grey on black, blank to the end of the row.
    constexpr uint8_t GREY_ON_BLACK = 0x07;
    for (size_t column = 0; column < static_cast<size_t>(columns_); ++column) {
        uint8_t* cell = &statusCells_[column * CONSOLE_CELL_BYTES];
        cell[0] = column < length ? static_cast<uint8_t>(text[column]) : ' ';
        cell[1] = 0;
        cell[2] = GREY_ON_BLACK;
        cell[3] = 0;
    }
    if (!inFrame_) flushFrame();
}

void PosixTerminalConsole::flushInput() {
    if (open_) tcflush(STDIN_FILENO, TCIFLUSH);
    keys_.reset();
    eventCount_ = 0;
    eventHead_ = 0;
}

void PosixTerminalConsole::writeText(const char* text, uint32_t length) {
    if (!open_ || length == 0) return;
    // Plain text: cutting it short harms nothing, so signals are not held back
    // while the terminal takes it.
    sendNow({text, length});
    if (!g_terminal.showScreen) g_terminal.atLineStart = text[length - 1] == '\n';
}

void PosixTerminalConsole::writeCellRow(int16_t row, const uint8_t* cells, int16_t count) {
    if (row < 0 || row >= rows_ || count <= 0) return;
    const int16_t written = std::min(count, columns_);
    std::memcpy(
        &screen_[static_cast<size_t>(row) * static_cast<size_t>(columns_) * CONSOLE_CELL_BYTES],
        cells, static_cast<size_t>(written) * CONSOLE_CELL_BYTES);
    // A row written outside a frame goes out at once, as on the console.
    if (!inFrame_) flushFrame();
}

void PosixTerminalConsole::beginFrame() {
    inFrame_ = true;
}

void PosixTerminalConsole::endFrame() {
    inFrame_ = false;
    flushFrame();
}

// Never waits: while the terminal has not taken the previous frame, a new one
// is skipped (the next one sent carries its changes), so a terminal that
// stops reading does not stop the show from seeing keys and signals.
void PosixTerminalConsole::flushFrame() {
    if (!open_) return;
    SignalBlock block;
    pumpQueue();
    if (!queueEmpty()) return;
    if (!g_terminal.showScreen) {
        // The encoder's line feeds keep the column: the driver must not add a CR.
        if (g_terminal.termiosChanged) applyRawMode(true);
        queueOutput(vt::ENTER_SHOW_SCREEN);
        g_terminal.showScreen = 1;
        g_terminal.redraw = 1;
    }
    if (g_terminal.redraw) {
        g_terminal.redraw = 0;
        layOut();
    }
    const size_t canvasPitch = static_cast<size_t>(canvasColumns_) * CONSOLE_CELL_BYTES;
    const size_t rowBytes = static_cast<size_t>(columns_) * CONSOLE_CELL_BYTES;
    const size_t left = static_cast<size_t>(layout_.left) * CONSOLE_CELL_BYTES;
    for (int16_t row = 0; row < rows_; ++row)
        std::memcpy(&canvas_[static_cast<size_t>(row + layout_.top) * canvasPitch + left],
                    &screen_[static_cast<size_t>(row) * rowBytes], rowBytes);
    if (statusRowShown_)
        std::memcpy(&canvas_[static_cast<size_t>(rows_ + layout_.top) * canvasPitch + left],
                    statusCells_.data(), rowBytes);
    queueOutput(encoder_->encodeFrame(canvas_.data(), static_cast<int32_t>(canvasPitch)));
}

void PosixTerminalConsole::queueKey(uint16_t key) {
    // A full queue drops keys, but never an Escape: it takes the newest place.
    if (eventCount_ == EVENT_QUEUE_SIZE && key != CONSOLE_VK_ESCAPE) return;
    if (eventCount_ == EVENT_QUEUE_SIZE) --eventCount_;
    ConsoleInputEvent& event = events_[(eventHead_ + eventCount_) % EVENT_QUEUE_SIZE];
    event.eventType = CONSOLE_KEY_EVENT;
    event.keyDown = 1;
    event.virtualKeyCode = key;
    ++eventCount_;
}

uint32_t PosixTerminalConsole::pendingInputEvents() {
    if (!open_) return 0;
    uint8_t bytes[256];
    uint16_t keys[sizeof bytes];
    bool anyRead = false;
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0) break;
        const size_t decoded =
            keys_.feed(bytes, static_cast<size_t>(count), posixTickCount(), keys, std::size(keys));
        for (size_t i = 0; i < decoded; ++i) queueKey(keys[i]);
        anyRead = true;
    }
    if (!anyRead) {
        const size_t decoded = keys_.poll(posixTickCount(), keys, std::size(keys));
        for (size_t i = 0; i < decoded; ++i) queueKey(keys[i]);
    }
    if (g_terminal.interrupts != 0 && interruptsSeen_ == 0) {
        interruptsSeen_ = 1;
        queueKey(CONSOLE_VK_ESCAPE);
    }
    return static_cast<uint32_t>(eventCount_);
}

bool PosixTerminalConsole::readInputEvent(ConsoleInputEvent& event) {
    if (eventCount_ == 0) return false;
    event = events_[eventHead_];
    eventHead_ = (eventHead_ + 1) % EVENT_QUEUE_SIZE;
    --eventCount_;
    return true;
}
