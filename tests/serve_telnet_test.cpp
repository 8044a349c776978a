// The telnet side of the server: what it answers to each negotiation, what it
// takes from subnegotiations, and that no input makes it misbehave.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <string>

#include "serve/broadcast.h"
#include "serve/show_server.h"
#include "serve/telnet_protocol.h"
#include "tests/xorshift_random.h"

using namespace telnet;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (const int value : values) text.push_back(static_cast<char>(value));
    return text;
}

struct Fed {
    std::string typed;
    std::string replies;
};

Fed feed(TelnetParser& parser, const std::string& input) {
    Fed fed;
    parser.feed(reinterpret_cast<const uint8_t*>(input.data()), input.size(), fed.typed,
                fed.replies);
    return fed;
}

constexpr int LINEMODE = 34;

}  // namespace

TEST(TelnetParser, AnswersEachNegotiationAsTheRfcsSay) {
    const std::string sendType = bytes({IAC, SB, TTYPE, TTYPE_SEND, IAC, SE});
    struct Case {
        const char* what;
        std::string input;
        std::string replies;
        std::string typed;
    };
    const Case cases[] = {
        {"type agreed: asked for", bytes({IAC, WILL, TTYPE}), sendType, ""},
        {"agreed twice: asked once", bytes({IAC, WILL, TTYPE, IAC, WILL, TTYPE}), sendType, ""},
        {"type refused", bytes({IAC, WONT, TTYPE}), "", ""},
        {"type switched off and on: asked once",
         bytes({IAC, WILL, TTYPE, IAC, WONT, TTYPE, IAC, WILL, TTYPE}),
         sendType + bytes({IAC, DONT, TTYPE, IAC, DO, TTYPE}), ""},
        {"size agreed", bytes({IAC, WILL, NAWS}), "", ""},
        {"our echo and go-ahead taken", bytes({IAC, DO, ECHO, IAC, DO, SGA}), "", ""},
        {"our echo taken then dropped", bytes({IAC, DO, ECHO, IAC, DONT, ECHO}),
         bytes({IAC, WONT, ECHO}), ""},
        {"our echo refused", bytes({IAC, DONT, ECHO}), "", ""},
        {"their go-ahead suppression offered", bytes({IAC, WILL, SGA}), bytes({IAC, DO, SGA}), ""},
        {"linemode offered: refused", bytes({IAC, WILL, LINEMODE}), bytes({IAC, DONT, LINEMODE}),
         ""},
        {"linemode asked for: refused", bytes({IAC, DO, LINEMODE}), bytes({IAC, WONT, LINEMODE}),
         ""},
        {"refusals not acknowledged", bytes({IAC, WONT, 200, IAC, DONT, 201}), "", ""},
        {"data, doubled IAC", bytes({'a', 'b', IAC, IAC, 'c'}), "", bytes({'a', 'b', IAC, 'c'})},
        {"CR NUL is CR", bytes({'a', '\r', 0, 'b'}), "", "a\rb"},
        {"interrupt and break: Ctrl-C", bytes({IAC, IP, IAC, BRK}), "", "\x03\x03"},
        {"other commands vanish", bytes({IAC, 241, 'x', IAC, 246}), "", "x"},
    };
    for (const Case& c : cases) {
        TelnetParser parser;
        const Fed fed = feed(parser, c.input);
        EXPECT_EQ(fed.replies, c.replies) << c.what;
        EXPECT_EQ(fed.typed, c.typed) << c.what;
    }
}

TEST(TelnetParser, TakesTheTerminalTypeAndWindowSize) {
    struct Case {
        std::string input;
        bool settled;
        std::string type;
        int columns, rows;
    };
    const std::string willBoth = bytes({IAC, WILL, TTYPE, IAC, WILL, NAWS});
    const std::string is = bytes({IAC, SB, TTYPE, TTYPE_IS});
    const std::string end = bytes({IAC, SE});
    const Case cases[] = {
        {willBoth, false, "", 0, 0},
        {willBoth + is + "XTERM-256color" + end + bytes({IAC, SB, NAWS, 0, 120, 0, 40}) + end, true,
         "xterm-256color", 120, 40},
        // A 255 in the size is doubled; control characters leave the type.
        {willBoth + is +
             "vt\x01"
             "100" +
             end + bytes({IAC, SB, NAWS, 0, IAC, IAC, 1, 0}) + end,
         true, "vt100", 255, 256},
        // Refused, or never asked for: the size is not taken.
        {bytes({IAC, WONT, TTYPE, IAC, WONT, NAWS, IAC, SB, NAWS, 0, 9, 0, 9}) + end, true, "", 0,
         0},
        // A size of the wrong length is ignored; a command ends an unfinished subnegotiation.
        {willBoth + bytes({IAC, SB, NAWS, 0, 1, 2}) + end + is + "ansi" + bytes({IAC, WONT, NAWS}),
         true, "ansi", 0, 0},
    };
    for (const Case& c : cases) {
        TelnetParser parser;
        // Fed byte by byte: the pieces a socket delivers may split anything.
        for (const char byte : c.input) feed(parser, std::string(1, byte));
        EXPECT_EQ(parser.settled(), c.settled) << testing::PrintToString(c.input);
        EXPECT_EQ(parser.terminalType(), c.type);
        EXPECT_EQ(parser.columns(), c.columns);
        EXPECT_EQ(parser.rows(), c.rows);
    }
}

TEST(TelnetParser, BadInputStaysBounded) {
    TelnetParser parser;
    feed(parser, bytes({IAC, WILL, TTYPE, IAC, WILL, NAWS}));
    // A 10 kB terminal type is cut; sizes of 0x0 and 65535x65535 are taken as said.
    feed(parser, bytes({IAC, SB, TTYPE, TTYPE_IS}) + std::string(10000, 'x') + bytes({IAC, SE}));
    EXPECT_EQ(parser.terminalType(), std::string(TELNET_TERMINAL_TYPE_MAX, 'x'));
    feed(parser, bytes({IAC, SB, NAWS, 0, 0, 0, 0, IAC, SE}));
    EXPECT_EQ(parser.columns() + parser.rows(), 0);
    feed(parser, bytes({IAC, SB, NAWS, IAC, IAC, IAC, IAC, IAC, IAC, IAC, IAC, IAC, SE}));
    EXPECT_EQ(parser.columns(), 65535);
    EXPECT_EQ(parser.rows(), 65535);

    // Random bytes: every answer is one refusal per request at most.
    XorshiftRandom random(7);
    for (int round = 0; round < 200; ++round) {
        std::string input;
        for (int i = 0; i < 300; ++i) {
            const uint32_t r = random.next();
            input.push_back(static_cast<char>(r % 4 == 0   ? IAC
                                              : r % 4 == 1 ? 250 + (r >> 8) % 6
                                                           : r >> 16));
        }
        const Fed fed = feed(parser, input);
        EXPECT_LE(fed.replies.size(), input.size() + 6);
        EXPECT_LE(fed.typed.size(), input.size());
    }
}

TEST(ViewerLayout, CentresLargerTerminalsAndCutsSmallerOnes) {
    struct Case {
        int columns, rows;
        ViewerLayout layout;
    };
    const Case cases[] = {
        {80, 50, {TerminalColors::Ansi16, 0, 0, 80, 50}},
        {121, 61, {TerminalColors::Ansi16, 20, 5, 100, 55}},
        {70, 30, {TerminalColors::Ansi16, 0, 0, 70, 30}},
        {65535, 65535, {TerminalColors::Ansi16, 80, 50, 160, 100}},
        {0, 0, {TerminalColors::Ansi16, 0, 0, 1, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(layoutFor(TerminalColors::Ansi16, c.columns, c.rows), c.layout)
            << c.columns << "x" << c.rows;
    }
}

TEST(AddressLimit, CountsIpv4AddressesAloneAndIpv6ByNetwork) {
    const std::pair<const char*, const char*> cases[] = {
        {"192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"::1", "::/64"},
    };
    for (const auto& [text, key] : cases) {
        sockaddr_storage address{};
        if (inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in&>(address).sin_addr) == 1) {
            address.ss_family = AF_INET;
        } else {
            ASSERT_EQ(
                inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6&>(address).sin6_addr), 1);
            address.ss_family = AF_INET6;
        }
        EXPECT_EQ(addressLimitKey(address), key) << text;
    }
}
