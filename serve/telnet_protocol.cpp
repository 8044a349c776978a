#include "serve/telnet_protocol.h"

#include <algorithm>

using namespace telnet;

namespace {

constexpr char CTRL_C = 3;

constexpr uint8_t OPENING[] = {IAC,  DO,  TTYPE, IAC, DO,  NAWS, IAC,   WILL,
                               ECHO, IAC, WILL,  SGA, IAC, WILL, BINARY};

bool himAgreeable(uint8_t option) {
    return option == TTYPE || option == NAWS || option == SGA || option == BINARY;
}

bool usAgreeable(uint8_t option) {
    return option == ECHO || option == SGA || option == BINARY;
}

}  // namespace

TelnetParser::TelnetParser() {
    std::fill(std::begin(him_), std::end(him_), Side::No);
    std::fill(std::begin(us_), std::end(us_), Side::No);
    him_[TTYPE] = him_[NAWS] = Side::WantYes;
    us_[ECHO] = us_[SGA] = us_[BINARY] = Side::WantYes;
}

std::string_view TelnetParser::opening() const {
    return {reinterpret_cast<const char*>(OPENING), sizeof OPENING};
}

bool TelnetParser::settled() const {
    const bool typeSettled = him_[TTYPE] == Side::No || typeAnswered_;
    const bool sizeSettled = him_[NAWS] == Side::No || sizeSeen_;
    return typeSettled && sizeSettled;
}

void TelnetParser::reply(std::string& replies, uint8_t command, uint8_t option) {
    replies.push_back(static_cast<char>(IAC));
    replies.push_back(static_cast<char>(command));
    replies.push_back(static_cast<char>(option));
}

void TelnetParser::requestTerminalType(std::string& replies) {
    const uint8_t request[] = {IAC, SB, TTYPE, TTYPE_SEND, IAC, SE};
    replies.append(reinterpret_cast<const char*>(request), sizeof request);
}

void TelnetParser::negotiate(uint8_t command, uint8_t option, std::string& replies) {
    if (command == WILL || command == WONT) {
        Side& side = him_[option];
        const bool enable = command == WILL;
        if (enable) {
            if (side == Side::Yes) return;
            if (side == Side::No && !himAgreeable(option)) {
                reply(replies, DONT, option);
                return;
            }
            if (side == Side::No) reply(replies, DO, option);
            side = Side::Yes;
            // Asked once: a client switching the option on and off gets no more.
            if (option == TTYPE && !typeRequested_) {
                typeRequested_ = true;
                requestTerminalType(replies);
            }
        } else {
            if (side == Side::Yes) reply(replies, DONT, option);
            side = Side::No;
        }
        return;
    }
    Side& side = us_[option];
    const bool enable = command == DO;
    if (enable) {
        if (side == Side::Yes) return;
        if (side == Side::No && !usAgreeable(option)) {
            reply(replies, WONT, option);
            return;
        }
        if (side == Side::No) reply(replies, WILL, option);
        side = Side::Yes;
    } else {
        if (side == Side::Yes) reply(replies, WONT, option);
        side = Side::No;
    }
}

void TelnetParser::endSubnegotiation() {
    if (subOption_ == TTYPE && him_[TTYPE] == Side::Yes && subLength_ >= 1 && sub_[0] == TTYPE_IS &&
        !typeAnswered_) {
        typeAnswered_ = true;
        terminalType_.clear();
        for (size_t i = 1; i < subLength_ && terminalType_.size() < TELNET_TERMINAL_TYPE_MAX; ++i) {
            const uint8_t c = sub_[i];
            if (c > ' ' && c < 0x7F) {
                terminalType_.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
            }
        }
    } else if (subOption_ == NAWS && him_[NAWS] == Side::Yes && subLength_ == 4 && !subOverflow_) {
        columns_ = static_cast<uint16_t>(sub_[0] << 8 | sub_[1]);
        rows_ = static_cast<uint16_t>(sub_[2] << 8 | sub_[3]);
        sizeSeen_ = true;
        ++sizeReports_;
    }
}

void TelnetParser::readCommand(uint8_t byte, std::string& typed) {
    state_ = State::Data;
    if (byte == IAC) {
        typed.push_back(static_cast<char>(IAC));
    } else if (byte >= WILL) {
        command_ = byte;
        state_ = State::Option;
    } else if (byte == SB) {
        state_ = State::SubOption;
    } else if (byte == IP || byte == BRK) {
        typed.push_back(CTRL_C);
    }
}

void TelnetParser::feed(const uint8_t* bytes, size_t count, std::string& typed,
                        std::string& replies) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        switch (state_) {
            case State::Data:
                if (byte == IAC) {
                    state_ = State::Command;
                } else if (byte != 0) {
                    typed.push_back(static_cast<char>(byte));  // NUL only pads a CR
                }
                break;
            case State::Command:
                readCommand(byte, typed);
                break;
            case State::Option:
                negotiate(command_, byte, replies);
                state_ = State::Data;
                break;
            case State::SubOption:
                subOption_ = byte;
                subLength_ = 0;
                subOverflow_ = false;
                state_ = State::SubData;
                break;
            case State::SubData:
            case State::SubIac:
                if (state_ == State::SubData && byte == IAC) {
                    state_ = State::SubIac;
                    break;
                }
                if (state_ == State::SubIac && byte != IAC) {
                    // IAC SE ends it; another command there ends it too (a
                    // broken client) and is read as that command.
                    endSubnegotiation();
                    state_ = State::Data;
                    if (byte != SE) readCommand(byte, typed);
                    break;
                }
                state_ = State::SubData;
                if (subLength_ < sizeof sub_) {
                    sub_[subLength_++] = byte;
                } else {
                    subOverflow_ = true;
                }
                break;
        }
    }
}
