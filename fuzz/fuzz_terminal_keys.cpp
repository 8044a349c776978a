// The key decoder: any bytes, split into any pieces at any times, with polls
// between them. Checks that it never reads or writes outside its buffers and
// that a lone ESC always becomes one Escape once it has waited long enough.
#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "fuzz/fuzz_input.h"
#include "platform/console.h"
#include "platform/terminal_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    TerminalKeyDecoder decoder;
    uint16_t keys[8];
    uint32_t now = in.u32();  // any start, wrap-around included
    while (!in.empty()) {
        const uint8_t control = in.u8();
        now += control & 0x3F;
        if (control & 0x40) {
            if (decoder.poll(now, keys, std::size(keys)) > 1) std::abort();
            continue;
        }
        const size_t length = std::min<size_t>(in.u8() % 32, in.remaining());
        const uint8_t* piece = data + (size - in.remaining());
        for (size_t i = 0; i < length; ++i) in.u8();
        const size_t decoded = decoder.feed(piece, length, now, keys, control & 7);
        if (decoded > (control & 7u) || decoded > length + 1) std::abort();
        if (control & 0x80) decoder.reset();
    }
    // Whatever came before, a lone ESC and a long wait is exactly one Escape
    // (or none more after it, once it has been counted).
    decoder.reset();
    const uint8_t escape = 0x1B;
    const size_t fed = decoder.feed(&escape, 1, now, keys, std::size(keys));
    const size_t polled = decoder.poll(now + LONE_ESCAPE_MS + 1, keys + fed, std::size(keys) - fed);
    if (fed + polled != 1 || keys[0] != CONSOLE_VK_ESCAPE) std::abort();
    return 0;
}
