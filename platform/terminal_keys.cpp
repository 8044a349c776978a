#include "platform/terminal_keys.h"

#include "platform/console.h"

namespace {

constexpr uint8_t ESC = 0x1B;

// Where decoded keys go: at most `capacity`, an Escape always in the last place.
struct KeyOutput {
    uint16_t* keys;
    size_t capacity;
    size_t count = 0;

    void add(uint16_t key) {
        if (key == 0 || capacity == 0) return;
        if (count < capacity)
            keys[count++] = key;
        else if (key == CONSOLE_VK_ESCAPE)
            keys[capacity - 1] = key;
    }
};

int countEscapes(const uint16_t* keys, size_t count) {
    int escapes = 0;
    for (size_t i = 0; i < count; ++i) escapes += keys[i] == CONSOLE_VK_ESCAPE ? 1 : 0;
    return escapes;
}

// The key of a plain byte, 0 for none.
uint16_t plainKey(uint8_t byte) {
    if (byte >= 'a' && byte <= 'z') return uint16_t(byte - 'a' + 'A');
    if ((byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == ' ') return byte;
    if (byte == ',') return CONSOLE_VK_COMMA;
    if (byte == '.') return CONSOLE_VK_PERIOD;
    return 0;
}

// The key of the last byte of an SS3 sequence (or a CSI one without numbers).
uint16_t cursorKey(uint8_t final) {
    switch (final) {
        case 'A':
            return CONSOLE_VK_UP;
        case 'B':
            return CONSOLE_VK_DOWN;
        case 'C':
            return CONSOLE_VK_RIGHT;
        case 'D':
            return CONSOLE_VK_LEFT;
        case 'H':
            return CONSOLE_VK_HOME;
        default:
            return 0;
    }
}

}  // namespace

uint16_t TerminalKeyDecoder::csiKey(uint8_t final) const {
    if (final != '~') return cursorKey(final);
    switch (firstParameter_) {
        case 1:
        case 7:
            return CONSOLE_VK_HOME;
        case 5:
            return CONSOLE_VK_PAGE_UP;
        case 6:
            return CONSOLE_VK_PAGE_DOWN;
        default:
            return 0;
    }
}

size_t TerminalKeyDecoder::poll(uint32_t now, uint16_t* keys, size_t capacity) {
    if (state_ == State::Ground || now - escapeTick_ < LONE_ESCAPE_MS) return 0;
    // A sequence cut short is dropped; only a waiting lone ESC is a key.
    KeyOutput out{keys, capacity};
    if (state_ == State::Escape) out.add(CONSOLE_VK_ESCAPE);
    state_ = State::Ground;
    return out.count;
}

size_t TerminalKeyDecoder::feed(const uint8_t* bytes, size_t count, uint32_t now, uint16_t* keys,
                                size_t capacity) {
    KeyOutput out{keys, capacity};
    out.count = poll(now, keys, capacity);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == ESC) {
            // Escape pressed twice in quick succession: the first is a key. An
            // ESC inside a sequence cuts it short and begins another.
            if (state_ == State::Escape) out.add(CONSOLE_VK_ESCAPE);
            state_ = State::Escape;
            escapeTick_ = now;
            continue;
        }
        switch (state_) {
            case State::Ground:
                out.add(plainKey(byte));
                break;
            case State::Escape:
                if (byte == '[') {
                    state_ = State::Csi;
                    firstParameter_ = 0;
                    parameterCount_ = 0;
                } else if (byte == 'O') {
                    state_ = State::Ss3;
                } else {
                    state_ = State::Ground;  // Alt+key
                }
                break;
            case State::Csi:
                if (byte >= '0' && byte <= '9') {
                    if (parameterCount_ == 0) parameterCount_ = 1;
                    if (parameterCount_ == 1 && firstParameter_ < 1000)
                        firstParameter_ = uint16_t(firstParameter_ * 10 + (byte - '0'));
                } else if (byte == ';') {
                    parameterCount_ = uint8_t(parameterCount_ < 2 ? 2 : parameterCount_);
                } else if (byte == '[' && parameterCount_ == 0) {
                    state_ = State::CsiBracket;  // the Linux console's F1 to F5
                } else if (byte >= 0x40 && byte <= 0x7E) {
                    out.add(csiKey(byte));
                    state_ = State::Ground;
                } else if (byte < 0x20 || byte > 0x7E) {
                    state_ = State::Ground;  // not a sequence after all
                }
                break;
            case State::CsiBracket:
                state_ = State::Ground;
                break;
            case State::Ss3:
                // Modifier digits may come before the key.
                if (byte >= '0' && byte <= '9') break;
                out.add(cursorKey(byte));
                state_ = State::Ground;
                break;
        }
    }
    return out.count;
}

int TerminalKeyDecoder::feed(const uint8_t* bytes, size_t count, uint32_t now) {
    int escapes = 0;
    uint16_t keys[64];
    // In pieces, so that no Escape is lost for want of room.
    do {
        const size_t piece = count < 64 ? count : 63;
        escapes += countEscapes(keys, feed(bytes, piece, now, keys, 64));
        bytes += piece;
        count -= piece;
    } while (count > 0);
    return escapes;
}

int TerminalKeyDecoder::poll(uint32_t now) {
    uint16_t keys[1];
    return countEscapes(keys, poll(now, keys, 1));
}
