// Texture environment objects. The second operand advances by bStride bytes
// per pixel: 4 for an array, 0 for one constant colour.
#include "render/texenv_ops.h"

#include <cstring>

#include "render/lanes.h"

namespace {

// out = a op b for the alive pixels, op the mode's operation on each byte:
// four pixels a round for the pixels up to a multiple of four, then one by one.
template <uint8_t Mode>
void combineAlive(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
                  const uint8_t* mask, uint16_t n) {
    unsigned i = 0;
    uint32_t constant = 0;
    if (bStride == 0) std::memcpy(&constant, b, 4);
    const Ints4 splat = splatPixel(constant);
    for (; i + 4 <= n; i += 4) {
        const Ints4 y = bStride == 0 ? splat : loadInts4(b + i * 4);
        const Ints4 r = combinePixels<Mode>(loadInts4(a + i * 4), y);
        uint8_t* o = out + i * 4;
        storeInts4(o, selectBits(aliveLanes(mask + i), r, loadInts4(o)));
    }
    for (; i < n; ++i) {
        if (mask[i] != 0) continue;
        const uint8_t* bi = b + i * bStride;
        for (unsigned j = 0; j < 4; ++j) {
            const unsigned x = a[i * 4 + j];
            out[i * 4 + j] = Mode == SGL_MODULATE ? modulateByte(x, bi[j])
                             : Mode == SGL_ADD    ? addSaturatedByte(x, bi[j])
                                                  : subtractSaturatedByte(x, bi[j]);
        }
    }
}

// The object's operation over n pixels; the second operand advances by bStride.
template <uint8_t FirstMode>
void combineIn(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
               const uint8_t* mask, uint8_t mode, uint16_t n) {
    if constexpr (FirstMode == SGL_REPLACE) {
        if (a != out) std::memmove(out, a, size_t{n} * 4);
    } else if constexpr (FirstMode == SGL_MODULATE) {
        combineAlive<SGL_MODULATE>(a, b, bStride, out, mask, n);
    } else if (mode == SGL_ADD) {
        combineAlive<SGL_ADD>(a, b, bStride, out, mask, n);
    } else {
        combineAlive<SGL_SUBTRACT>(a, b, bStride, out, mask, n);
    }
}

}  // namespace

template <uint8_t FirstMode>
int TexEnvOp<FirstMode>::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= (FirstMode == SGL_ADD ? 2u : 1u)) return 0;
    key.part[0] = static_cast<uint8_t>(FirstMode + index);
    return 1;
}

template <uint8_t FirstMode>
void TexEnvOp<FirstMode>::combine(const uint8_t* a, const uint8_t* b, uint8_t* out,
                                  const uint8_t* mask, uint8_t mode, uint16_t n) const {
    combineIn<FirstMode>(a, b, 4, out, mask, mode, n);
}

template <uint8_t FirstMode>
void TexEnvOp<FirstMode>::combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out,
                                          const uint8_t* mask, uint8_t mode, uint16_t n) const {
    combineIn<FirstMode>(a, k, 0, out, mask, mode, n);
}

template class TexEnvOp<SGL_REPLACE>;
template class TexEnvOp<SGL_MODULATE>;
template class TexEnvOp<SGL_ADD>;
