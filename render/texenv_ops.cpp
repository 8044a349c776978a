// Texture environment objects. The second operand advances by bStride bytes
// per pixel: 4 for an array, 0 for one constant colour.
#include "render/texenv_ops.h"

#include <cstring>

namespace {

template <typename Channel>
void combineAlive(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
                  const uint8_t* mask, uint16_t n, Channel channel) {
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] != 0) continue;
        const uint8_t* bi = b + i * bStride;
        for (unsigned j = 0; j < 4; ++j) out[i * 4 + j] = channel(a[i * 4 + j], bi[j]);
    }
}

void replace(const uint8_t* a, uint8_t* out, uint16_t n) {
    if (a != out) std::memmove(out, a, size_t{n} * 4);
}

// (a x b + b) >> 8 stays within 16 bits: at most 255 x 255 + 255.
void modulate(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
              const uint8_t* mask, uint16_t n) {
    combineAlive(a, b, bStride, out, mask, n, [](uint8_t x, uint8_t y) {
        return static_cast<uint8_t>((unsigned{x} * y + y) >> 8);
    });
}

void addOrSubtract(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
                   const uint8_t* mask, uint8_t mode, uint16_t n) {
    if (mode == 2) {
        combineAlive(a, b, bStride, out, mask, n, [](uint8_t x, uint8_t y) {
            const unsigned sum = unsigned{x} + y;
            return static_cast<uint8_t>(sum > 255 ? 255 : sum);
        });
    } else {
        combineAlive(a, b, bStride, out, mask, n,
                     [](uint8_t x, uint8_t y) { return static_cast<uint8_t>(x > y ? x - y : 0); });
    }
}

int enumerateModes(FragmentKey& key, unsigned index, uint8_t firstMode, unsigned count) {
    if (index >= count) return 0;
    key.part[0] = static_cast<uint8_t>(firstMode + index);
    return 1;
}

}  // namespace

int TexEnvReplaceOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateModes(key, index, 0, 1);
}
void TexEnvReplaceOp::combine(const uint8_t* a, const uint8_t*, uint8_t* out, const uint8_t*,
                              uint8_t, uint16_t n) const {
    replace(a, out, n);
}
void TexEnvReplaceOp::combineConstant(const uint8_t* a, const uint8_t*, uint8_t* out,
                                      const uint8_t*, uint8_t, uint16_t n) const {
    replace(a, out, n);
}

int TexEnvModulateOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateModes(key, index, 1, 1);
}
void TexEnvModulateOp::combine(const uint8_t* a, const uint8_t* b, uint8_t* out,
                               const uint8_t* mask, uint8_t, uint16_t n) const {
    modulate(a, b, 4, out, mask, n);
}
void TexEnvModulateOp::combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out,
                                       const uint8_t* mask, uint8_t, uint16_t n) const {
    modulate(a, k, 0, out, mask, n);
}

int TexEnvAddSubtractOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateModes(key, index, 2, 2);
}
void TexEnvAddSubtractOp::combine(const uint8_t* a, const uint8_t* b, uint8_t* out,
                                  const uint8_t* mask, uint8_t mode, uint16_t n) const {
    addOrSubtract(a, b, 4, out, mask, mode, n);
}
void TexEnvAddSubtractOp::combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out,
                                          const uint8_t* mask, uint8_t mode, uint16_t n) const {
    addOrSubtract(a, k, 0, out, mask, mode, n);
}
