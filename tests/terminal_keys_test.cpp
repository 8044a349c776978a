#include "platform/terminal_keys.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "platform/console.h"

namespace {

// The keys as the decoder reports them: feeds, then polls long after.
struct Keys {
    TerminalKeyDecoder decoder;
    std::vector<uint16_t> got;
    size_t capacity = 64;

    Keys& feed(std::string_view bytes, uint32_t now) {
        uint16_t keys[64];
        const size_t n = decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                      now, keys, capacity);
        got.insert(got.end(), keys, keys + n);
        return *this;
    }
    Keys& poll(uint32_t now) {
        uint16_t keys[64];
        const size_t n = decoder.poll(now, keys, capacity);
        got.insert(got.end(), keys, keys + n);
        return *this;
    }
};

constexpr uint16_t ESCAPE = CONSOLE_VK_ESCAPE;

}  // namespace

TEST(TerminalKeys, SequencesAndKeysDecode) {
    const struct {
        std::string_view bytes;
        std::vector<uint16_t> keys;
    } cases[] = {
        {"\x1b[A\x1b[B\x1b[C\x1b[D",
         {CONSOLE_VK_UP, CONSOLE_VK_DOWN, CONSOLE_VK_RIGHT, CONSOLE_VK_LEFT}},
        {"\x1bOA\x1bOB\x1bOC\x1bOD\x1bOH",
         {CONSOLE_VK_UP, CONSOLE_VK_DOWN, CONSOLE_VK_RIGHT, CONSOLE_VK_LEFT, CONSOLE_VK_HOME}},
        {"\x1b[5~\x1b[6~\x1b[H\x1b[1~\x1b[7~",
         {CONSOLE_VK_PAGE_UP, CONSOLE_VK_PAGE_DOWN, CONSOLE_VK_HOME, CONSOLE_VK_HOME,
          CONSOLE_VK_HOME}},
        {"\x1b[1;5C\x1b[5;2~\x1bO2D", {CONSOLE_VK_RIGHT, CONSOLE_VK_PAGE_UP, CONSOLE_VK_LEFT}},
        {" pP.,mM9 0iqQz",
         {' ', 'P', 'P', CONSOLE_VK_PERIOD, CONSOLE_VK_COMMA, 'M', 'M', '9', ' ', '0', 'I', 'Q',
          'Q', 'Z'}},
        // Never keys: function keys, Alt+key, the Linux console's F1, paste
        // brackets, control bytes, a sequence cut short by a control byte.
        {"\x1b[15~\x1bOP\x1bx\x1b[[A\x1b[200~\x1b[201~\r\n\t\x7f\x01\x1b[1\r", {}},
        {"\x1b\x1b", {ESCAPE, ESCAPE}},  // pressed twice: both are keys
        {"\x1b[B\x1b", {CONSOLE_VK_DOWN, ESCAPE}},
        {"\x1b[1;", {}},                     // cut short: dropped, not Escape
        {"\xc3\xa9.", {CONSOLE_VK_PERIOD}},  // other characters are no keys
    };
    for (const auto& c : cases) {
        Keys keys;
        keys.feed(c.bytes, 10).poll(1000);
        EXPECT_EQ(keys.got, c.keys) << testing::PrintToString(std::string(c.bytes));
    }
}

TEST(TerminalKeys, LoneEscapeWaitsForWhatFollows) {
    Keys keys;
    keys.feed("\x1b", 100).poll(100 + LONE_ESCAPE_MS - 1);
    EXPECT_TRUE(keys.got.empty());
    keys.poll(100 + LONE_ESCAPE_MS).poll(500);
    EXPECT_EQ(keys.got, std::vector<uint16_t>{ESCAPE});  // counted once

    // Across the wrap of the tick count; bytes after the wait do not make it a
    // sequence; a sequence split over reads is one key.
    Keys wrapped;
    wrapped.feed("\x1b", 0xFFFFFFF0u).poll(0xFFFFFFF0u + LONE_ESCAPE_MS);
    wrapped.feed("\x1b", 1000).feed("[A", 1000 + LONE_ESCAPE_MS);
    wrapped.feed("\x1b", 2000).feed("[6", 2010).feed("~", 2020).poll(3000);
    EXPECT_EQ(wrapped.got, (std::vector<uint16_t>{ESCAPE, ESCAPE, 'A', CONSOLE_VK_PAGE_DOWN}));

    // Flushed input forgets a waiting ESC.
    Keys flushed;
    flushed.feed("\x1b", 200);
    flushed.decoder.reset();
    flushed.poll(1000);
    EXPECT_TRUE(flushed.got.empty());

    // More keys than room: the rest are dropped, an Escape never.
    Keys full;
    full.capacity = 3;
    full.feed("abcde\x1b\x1b", 10);
    EXPECT_EQ(full.got, (std::vector<uint16_t>{'A', 'B', ESCAPE}));
}
