#include "platform/terminal_keys.h"

namespace {
constexpr uint8_t ESC = 0x1B;
}

int TerminalKeyDecoder::poll(uint32_t now) {
    if (state_ == State::Ground || now - escapeTick_ < LONE_ESCAPE_MS) return 0;
    // A sequence cut short is dropped; only a waiting lone ESC is a key.
    const int presses = state_ == State::Escape ? 1 : 0;
    state_ = State::Ground;
    return presses;
}

int TerminalKeyDecoder::feed(const uint8_t* bytes, size_t count, uint32_t now) {
    int presses = poll(now);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::Ground:
                if (byte == ESC) {
                    state_ = State::Escape;
                    escapeTick_ = now;
                }
                break;
            case State::Escape:
                if (byte == '[') {
                    state_ = State::Csi;
                } else if (byte == 'O') {
                    state_ = State::Ss3;
                } else if (byte == ESC) {
                    // Escape pressed twice in quick succession: the first is a key.
                    ++presses;
                    escapeTick_ = now;
                } else {
                    state_ = State::Ground;  // Alt+key
                }
                break;
            case State::Csi:
                if (byte == ESC) {
                    state_ = State::Escape;
                    escapeTick_ = now;
                } else if (byte >= 0x40 && byte <= 0x7E) {
                    state_ = State::Ground;
                } else if (byte < 0x20 || byte > 0x7E) {
                    state_ = State::Ground;  // not a sequence after all
                }
                break;
            case State::Ss3:
                state_ = byte == ESC ? State::Escape : State::Ground;
                escapeTick_ = now;
                break;
        }
    }
    return presses;
}
