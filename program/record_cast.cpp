#include "program/record_cast.h"

#include "platform/terminal_sequences.h"
#include "program/console_output.h"
#include "program/frame_loop.h"

namespace {

// What a terminal of the depth is known as; 24-bit colour needs no type of its own.
std::string_view terminalType(TerminalColors colors) {
    return colors == TerminalColors::Ansi16 ? "xterm" : "xterm-256color";
}

}  // namespace

bool CastRecording::open(const std::string& path, TerminalColors colors, std::string& error) {
    colors_ = colors == TerminalColors::Auto ? TerminalColors::TrueColor : colors;
    encoder_ = std::make_unique<TerminalEncoder>(colors_, CONSOLE_COLUMNS, CONSOLE_ROWS);
    started_ = false;
    if (writer_.open(path, {CONSOLE_COLUMNS, CONSOLE_ROWS, terminalType(colors_), "VORNAK"}))
        return true;
    error = writer_.error();
    return false;
}

bool CastRecording::addFrame(const Surface& cells, uint32_t milliseconds, std::string& error) {
    if (!started_) {
        // The title goes first, then the start-up lines on the normal screen,
        // where the terminal driver turns each line feed into CR LF.
        pending_.assign(vt::PUSH_TITLE).append(vt::TITLE_BEGIN).append(SHOW_TITLE);
        pending_.append(vt::TITLE_END);
        for (const char c : startupText_) {
            if (c == '\n') pending_ += '\r';
            pending_ += c;
        }
        pending_.append(vt::ENTER_SHOW_SCREEN);
        started_ = true;
        if (!writer_.addOutput(milliseconds, pending_)) {
            error = writer_.error();
            return false;
        }
    }
    if (writer_.addOutput(milliseconds, encoder_->encodeFrame(cells.pixels(), cells.pitch())))
        return true;
    error = writer_.error();
    return false;
}

bool CastRecording::finish(uint32_t milliseconds, std::string& error) {
    // As the show leaves the terminal: its own screen, then the title, and the
    // start-up lines ended.
    pending_.assign(vt::LEAVE_SHOW_SCREEN).append(vt::POP_TITLE);
    if (!startupText_.empty() && startupText_.back() != '\n') pending_.append("\r\n");
    if (writer_.addOutput(milliseconds, pending_) && writer_.close()) return true;
    error = writer_.error();
    return false;
}

std::string CastRecording::description() const {
    return std::string("asciicast, ") + terminalColorsName(colors_);
}
