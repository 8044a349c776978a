// The server's side of a telnet connection (RFC 854/855): separates what the
// viewer types from the commands, answers option negotiations and collects the
// terminal type (RFC 1091) and window size (RFC 1073). Pure: no system calls.
//
// Agreed to: the viewer's TERMINAL-TYPE, NAWS, SUPPRESS-GO-AHEAD and BINARY;
// the server's ECHO and SUPPRESS-GO-AHEAD (together they put a client into
// character-at-a-time mode) and BINARY (the picture is UTF-8). Every other
// option is refused, and a request for a state already in force is not
// answered, so negotiations cannot loop (RFC 1143).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace telnet {
constexpr uint8_t IAC = 255;
constexpr uint8_t DONT = 254;
constexpr uint8_t DO = 253;
constexpr uint8_t WONT = 252;
constexpr uint8_t WILL = 251;
constexpr uint8_t SB = 250;
constexpr uint8_t BRK = 243;
constexpr uint8_t IP = 244;
constexpr uint8_t SE = 240;

constexpr uint8_t BINARY = 0;
constexpr uint8_t ECHO = 1;
constexpr uint8_t SGA = 3;
constexpr uint8_t TTYPE = 24;
constexpr uint8_t NAWS = 31;

constexpr uint8_t TTYPE_IS = 0;
constexpr uint8_t TTYPE_SEND = 1;
}  // namespace telnet

// Longest terminal type kept; a longer one is cut (names are far shorter).
constexpr size_t TELNET_TERMINAL_TYPE_MAX = 40;

class TelnetParser {
  public:
    TelnetParser();

    // The server's opening requests: DO TERMINAL-TYPE, DO NAWS, WILL ECHO,
    // WILL SUPPRESS-GO-AHEAD, WILL BINARY.
    std::string_view opening() const;

    // Consumes received bytes: what the viewer typed is appended to `typed`
    // (a break or interrupt as Ctrl-C), the answers to send to `replies`.
    void feed(const uint8_t* bytes, size_t count, std::string& typed, std::string& replies);

    // Both the terminal type and the window size are known or refused.
    bool settled() const;
    bool hasTerminalType() const { return !terminalType_.empty(); }
    // Lower case, printable characters only; "" until known.
    const std::string& terminalType() const { return terminalType_; }
    bool hasWindowSize() const { return sizeSeen_; }
    // As the client reported it (0 where it does not know).
    uint16_t columns() const { return columns_; }
    uint16_t rows() const { return rows_; }
    // Counts window size reports, so that a caller sees a change.
    uint32_t sizeReports() const { return sizeReports_; }

  private:
    // RFC 1143's states of one side of one option.
    enum class Side : uint8_t { No, Yes, WantYes };
    enum class State : uint8_t { Data, Command, Option, SubOption, SubData, SubIac };

    void negotiate(uint8_t command, uint8_t option, std::string& replies);
    void readCommand(uint8_t byte, std::string& typed);
    void endSubnegotiation();
    static void reply(std::string& replies, uint8_t command, uint8_t option);
    static void requestTerminalType(std::string& replies);

    Side him_[256];  // the viewer's side of each option
    Side us_[256];   // the server's side
    State state_ = State::Data;
    uint8_t command_ = 0;
    uint8_t subOption_ = 0;
    size_t subLength_ = 0;
    bool subOverflow_ = false;
    uint8_t sub_[TELNET_TERMINAL_TYPE_MAX + 2];
    bool typeRequested_ = false;
    bool typeAnswered_ = false;
    bool sizeSeen_ = false;
    std::string terminalType_;
    uint16_t columns_ = 0;
    uint16_t rows_ = 0;
    uint32_t sizeReports_ = 0;
};
