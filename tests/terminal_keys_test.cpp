#include "platform/terminal_keys.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

int feed(TerminalKeyDecoder& keys, std::string_view bytes, uint32_t now) {
    return keys.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
}

}  // namespace

TEST(TerminalKeys, LoneEscapeIsAKeyOnceNothingFollows) {
    TerminalKeyDecoder keys;
    EXPECT_EQ(feed(keys, "\x1b", 100), 0);
    EXPECT_EQ(keys.poll(100 + LONE_ESCAPE_MS - 1), 0);
    EXPECT_EQ(keys.poll(100 + LONE_ESCAPE_MS), 1);
    EXPECT_EQ(keys.poll(500), 0);  // counted once

    // Across the wrap of the tick count.
    EXPECT_EQ(feed(keys, "\x1b", 0xFFFFFFF0u), 0);
    EXPECT_EQ(keys.poll(0xFFFFFFF0u + LONE_ESCAPE_MS), 1);

    // Bytes arriving after the wait do not turn it into a sequence.
    EXPECT_EQ(feed(keys, "\x1b", 1000), 0);
    EXPECT_EQ(feed(keys, "[A", 1000 + LONE_ESCAPE_MS), 1);
}

TEST(TerminalKeys, SequencesAreNeverEscape) {
    TerminalKeyDecoder keys;
    for (std::string_view sequence :
         {"\x1b[A", "\x1b[1;5C", "\x1b[15~", "\x1bOP", "\x1bx", "\x1b[[A", "\x1b[200~", "abc\r"}) {
        EXPECT_EQ(feed(keys, sequence, 10), 0) << sequence.substr(1);
        EXPECT_EQ(keys.poll(1000), 0) << sequence.substr(1);
    }
    // A sequence split over two reads.
    EXPECT_EQ(feed(keys, "\x1b", 2000), 0);
    EXPECT_EQ(feed(keys, "[2", 2010), 0);
    EXPECT_EQ(feed(keys, "4~", 2020), 0);
    EXPECT_EQ(keys.poll(3000), 0);
    // A sequence cut short is dropped, not taken for Escape.
    EXPECT_EQ(feed(keys, "\x1b[1;", 4000), 0);
    EXPECT_EQ(keys.poll(5000), 0);
}

TEST(TerminalKeys, EscapesAmongOtherKeys) {
    TerminalKeyDecoder keys;
    EXPECT_EQ(feed(keys, "\x1b\x1b", 10), 1);  // pressed twice: the first is certain
    EXPECT_EQ(keys.poll(10 + LONE_ESCAPE_MS), 1);
    EXPECT_EQ(feed(keys, "\x1b[B\x1b", 100), 0);
    EXPECT_EQ(keys.poll(100 + LONE_ESCAPE_MS), 1);
    keys.reset();
    EXPECT_EQ(feed(keys, "\x1b", 200), 0);
    keys.reset();  // flushed input forgets a waiting ESC
    EXPECT_EQ(keys.poll(1000), 0);
}
