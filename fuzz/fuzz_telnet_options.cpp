// The telnet option parser: any bytes from a viewer, split into any pieces.
// Checks that it reads only its input, that the terminal type stays short and
// printable, and that it never answers with more than one reply per request
// (no negotiation loops, no amplification).
#include <algorithm>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "serve/telnet_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    TelnetParser parser;
    std::string typed, replies;
    size_t fed = 0;
    while (!in.empty()) {
        const size_t length = std::min<size_t>(in.u8() % 64, in.remaining());
        const uint8_t* piece = data + (size - in.remaining());
        for (size_t i = 0; i < length; ++i) in.u8();
        parser.feed(piece, length, typed, replies);
        fed += length;
    }
    if (typed.size() > fed || replies.size() > fed + 6) std::abort();
    const std::string& type = parser.terminalType();
    if (type.size() > TELNET_TERMINAL_TYPE_MAX) std::abort();
    for (const char c : type) {
        if (c <= ' ' || c >= 0x7F || (c >= 'A' && c <= 'Z')) std::abort();
    }
    return 0;
}
