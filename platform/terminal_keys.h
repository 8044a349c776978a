// Finds the Escape key in the byte stream a terminal sends for key presses. A
// lone ESC byte, with nothing following within LONE_ESCAPE_MS, is the Escape
// key; ESC followed by a sequence (arrows, function keys, Alt+key) is another
// key and is consumed without a trace. Pure: no system calls.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t LONE_ESCAPE_MS = 30;

class TerminalKeyDecoder {
  public:
    // Consumes bytes that arrived at `now` (milliseconds, wrapping); answers how
    // many Escape presses are now certain.
    int feed(const uint8_t* bytes, size_t count, uint32_t now);
    // Called when nothing arrived: an ESC left waiting long enough becomes Escape.
    int poll(uint32_t now);
    void reset() { state_ = State::Ground; }

  private:
    enum class State : uint8_t { Ground, Escape, Csi, Ss3 };

    State state_ = State::Ground;
    uint32_t escapeTick_ = 0;  // when the last ESC (or sequence byte) arrived
};
