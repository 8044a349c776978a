// Keyframe tracks with any start, duration, easing, values and kinds,
// evaluated at any times: UBSan checks the arithmetic (the quadratic easing's
// squares, the conversions to 16 bits), ASan the writes to the targets.
#include <memory>

#include "fuzz/fuzz_input.h"
#include "scenekit/track_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    auto list = std::make_unique<TrackList>();  // 1024 records: not on the stack
    float floats[4] = {};
    uint8_t bytes[4] = {};
    int16_t shorts[4] = {};
    const int tracks = in.u8() % 40;
    for (int i = 0; i < tracks; ++i) {
        const uint8_t kind = in.u8();
        const uint32_t start = in.u32();
        const uint32_t length = in.u32();    // a duration, or an end for the range forms
        const uint8_t easing = in.u8() % 3;  // 2: an easing that does nothing
        switch (kind % 6) {
            case 0:
                list->addFloat(start, length, easing, in.f32(), in.f32(), &floats[kind / 6 % 4]);
                break;
            case 1:
                list->addFloatRange(start, length, easing, in.f32(), in.f32(),
                                    &floats[kind / 6 % 4]);
                break;
            case 2:
                list->addByte(start, length, in.u8(), &bytes[kind / 6 % 4]);
                break;
            case 3:
                list->addByteRange(start, length, in.u8(), &bytes[kind / 6 % 4]);
                break;
            case 4:
                list->addShort(start, length, easing, in.u16(), in.u16(), &shorts[kind / 6 % 4]);
                break;
            default:
                list->addShortRange(start, length, easing, in.u16(), in.u16(),
                                    &shorts[kind / 6 % 4]);
                break;
        }
    }
    while (!in.empty()) list->evaluate(in.u32());
    return 0;
}
