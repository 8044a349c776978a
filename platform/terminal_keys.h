// Turns the byte stream a terminal sends for key presses into the show's keys,
// as the virtual-key codes of platform/console.h: letters (upper case), digits,
// space, comma and period as themselves; the arrows, Page Up/Down and Home
// from their CSI and SS3 sequences (with or without modifiers). A lone ESC
// byte, with nothing following within LONE_ESCAPE_MS, is the Escape key; ESC
// followed by any other sequence (function keys, Alt+key) is consumed without
// a trace, as are other bytes. Pure: no system calls.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t LONE_ESCAPE_MS = 30;

class TerminalKeyDecoder {
  public:
    // Consumes bytes that arrived at `now` (milliseconds, wrapping) and writes
    // the keys they complete to `keys`; returns how many. Beyond `capacity`
    // keys are dropped, but an Escape takes the last place.
    size_t feed(const uint8_t* bytes, size_t count, uint32_t now, uint16_t* keys, size_t capacity);
    // Called when nothing arrived: an ESC left waiting long enough becomes Escape.
    size_t poll(uint32_t now, uint16_t* keys, size_t capacity);
    // The same, counting only the Escape presses (for a caller that answers no other key).
    int feed(const uint8_t* bytes, size_t count, uint32_t now);
    int poll(uint32_t now);
    void reset() { state_ = State::Ground; }

  private:
    enum class State : uint8_t { Ground, Escape, Csi, CsiBracket, Ss3 };

    // The key a sequence stands for, 0 for none.
    uint16_t csiKey(uint8_t final) const;

    State state_ = State::Ground;
    uint32_t escapeTick_ = 0;      // when the last ESC (or sequence byte) arrived
    uint16_t firstParameter_ = 0;  // of a CSI sequence, saturating
    uint8_t parameterCount_ = 0;   // numbers begun in a CSI sequence
};
