// A recording of what the show writes to a terminal, as an asciinema cast: the
// title, the start-up lines, the show screen, every frame's changed cells from
// the terminal encoder, and at the end the terminal given back, each piece at
// its time on the show's 20 ms grid. The bytes are those a live run sends to an
// 80x50 terminal that takes every frame (platform/posix_terminal_console.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "formats/asciicast.h"
#include "image/surface.h"
#include "platform/terminal_encoder.h"

class CastRecording {
  public:
    // Creates `path` for frames in `colors` (Auto: 24-bit, the exact picture).
    // False with `error` set on failure.
    bool open(const std::string& path, TerminalColors colors, std::string& error);
    // The start-up lines the show wrote before its first frame, written with it.
    void setStartupText(std::string_view text) { startupText_ = text; }
    // The frame's cells at `milliseconds` from the start of the recording.
    bool addFrame(const Surface& cells, uint32_t milliseconds, std::string& error);
    // Gives the terminal back at `milliseconds` and closes the file.
    bool finish(uint32_t milliseconds, std::string& error);
    // Like "asciicast, truecolor", for messages.
    std::string description() const;

  private:
    TerminalColors colors_ = TerminalColors::TrueColor;
    AsciicastWriter writer_;
    std::unique_ptr<TerminalEncoder> encoder_;
    std::string startupText_;
    std::string pending_;  // what goes out before the first frame
    bool started_ = false;
};
