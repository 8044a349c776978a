// Reads typed values from a fuzzer's bytes; zeros once they run out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    size_t remaining() const { return size_ - at_; }

    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    int16_t i16() { return static_cast<int16_t>(u16()); }

    // Mostly small ordinary values; now and then a raw bit pattern (NaN,
    // infinities, huge and denormal numbers).
    float f32() {
        const uint8_t kind = u8();
        if (kind < 200) return static_cast<float>(i16()) / 64.0f;
        if (kind < 240) {
            static const float SPECIAL[] = {std::numeric_limits<float>::quiet_NaN(),
                                            std::numeric_limits<float>::infinity(),
                                            -std::numeric_limits<float>::infinity(),
                                            std::numeric_limits<float>::max(),
                                            std::numeric_limits<float>::lowest(),
                                            std::numeric_limits<float>::denorm_min(),
                                            3e9f,
                                            -3e9f,
                                            1e-30f,
                                            0.0f,
                                            -0.0f,
                                            1.0f};
            return SPECIAL[kind % (sizeof SPECIAL / sizeof SPECIAL[0])];
        }
        const uint32_t bits = u32();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};
