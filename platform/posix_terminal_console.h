// The console on a POSIX terminal. The start-up lines go to the normal screen
// (so they stay readable after the show); frames go to the alternate screen,
// encoded by TerminalEncoder. The keyboard is raw and non-blocking; Ctrl-C
// arrives as an Escape key-down so that the show shuts down in order.
//
// Output never blocks the show: frames are written without waiting, and while
// the terminal has not taken one, the next ones are skipped. The terminal is
// restored on every way out: close(), the destructor, every signal whose
// default action ends the process (which then takes that action), and around
// Ctrl-Z. Restoring cancels an escape sequence cut short and waits only a
// moment for a terminal that reads nothing.
//
// The signal handlers need the terminal state in one place, so at most one
// instance may be open at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/posix_terminal_checks.h"
#include "platform/terminal_encoder.h"
#include "platform/terminal_keys.h"
#include "platform/terminal_layout.h"

class PosixTerminalConsole : public Console {
  public:
    // `colors` Auto: chosen from COLORTERM and TERM.
    explicit PosixTerminalConsole(TerminalColors colors);
    ~PosixTerminalConsole() override;
    PosixTerminalConsole(const PosixTerminalConsole&) = delete;
    PosixTerminalConsole& operator=(const PosixTerminalConsole&) = delete;

    // Takes over the terminal on standard input and output. False, with nothing
    // changed and openFailure() telling why, when they are not a terminal, the
    // terminal type cannot place the cursor, or another instance is open.
    bool open();
    // One line (without a line end) saying why open() failed.
    const std::string& openFailure() const { return failure_; }
    // Set by open() when the locale's character set is not UTF-8.
    const char* startupNotice() const override;
    // Gives the terminal back as it was. Done by the destructor too.
    void close();

    void setTitle(const char* title) override;
    void setScreenBufferSize(int16_t columns, int16_t rows) override;
    void flushInput() override;
    void writeText(const char* text, uint32_t length) override;
    void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) override;
    void beginFrame() override;
    void endFrame() override;
    // A row below the picture, when the terminal has one.
    bool hasStatusRow() const override { return statusRowShown_; }
    void writeStatusLine(const char* text, uint32_t length) override;
    uint32_t pendingInputEvents() override;
    bool readInputEvent(ConsoleInputEvent& event) override;

    TerminalColors colors() const { return colors_; }

  private:
    void flushFrame();
    // Places the picture for the terminal's size: centred on a larger one,
    // with the status row below it when there is room.
    void layOut();
    void queueKey(uint16_t key);

    TerminalColors colors_;
    bool open_ = false;
    std::string failure_;
    std::string notice_;
    bool inFrame_ = false;
    int16_t columns_ = 80;
    int16_t rows_ = 50;
    std::vector<uint8_t> screen_;  // the screen buffer, columns x rows CHAR_INFO records
    // The terminal's cells: the screen buffer at the layout's place, blank
    // margins, and the status row.
    ViewerLayout layout_;
    int16_t canvasColumns_ = 80;
    int16_t canvasRows_ = 50;
    std::vector<uint8_t> canvas_;
    bool statusRowShown_ = false;
    std::vector<uint8_t> statusCells_;  // one row of the screen buffer's width
    std::unique_ptr<TerminalEncoder> encoder_;
    TerminalKeyDecoder keys_;
    uint32_t interruptsSeen_ = 0;
    static constexpr int EVENT_QUEUE_SIZE = 32;
    ConsoleInputEvent events_[EVENT_QUEUE_SIZE];
    int eventCount_ = 0;
    int eventHead_ = 0;
};
