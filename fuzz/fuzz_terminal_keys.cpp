// The key decoder: any bytes, split into any pieces at any times, with polls
// between them. Checks that it never reads outside its input and that a lone
// ESC always becomes one Escape once it has waited long enough.
#include <algorithm>
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "platform/terminal_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    TerminalKeyDecoder decoder;
    uint32_t now = in.u32();  // any start, wrap-around included
    while (!in.empty()) {
        const uint8_t control = in.u8();
        now += control & 0x3F;
        if (control & 0x40) {
            if (decoder.poll(now) < 0) std::abort();
            continue;
        }
        const size_t length = std::min<size_t>(in.u8() % 32, in.remaining());
        const uint8_t* piece = data + (size - in.remaining());
        for (size_t i = 0; i < length; ++i) in.u8();
        const int escapes = decoder.feed(piece, length, now);
        if (escapes < 0 || static_cast<size_t>(escapes) > length + 1) std::abort();
        if (control & 0x80) decoder.reset();
    }
    // Whatever came before, a lone ESC and a long wait is exactly one Escape
    // (or none more after it, once it has been counted).
    decoder.reset();
    const uint8_t escape = 0x1B;
    const int fed = decoder.feed(&escape, 1, now);
    const int polled = decoder.poll(now + LONE_ESCAPE_MS + 1);
    if (fed + polled != 1) std::abort();
    return 0;
}
