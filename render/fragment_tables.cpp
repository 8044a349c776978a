// Fragment-operation tables: resetting, installing and removing objects, and
// the per-span dispatch by the current state of the render context.
#include "render/fragment_tables.h"

#include "render/render_context.h"
#include "render/sgl.h"
#include "render/texenv_ops.h"

namespace {

// Entry index of a key, or -1 when the key lies outside the table.
int alphaIndex(const FragmentKey& key) {
    return key.part[0] < ALPHA_TABLE_SIZE ? key.part[0] : -1;
}
int depthIndex(const FragmentKey& key) {
    return key.part[0] < DEPTH_TABLE_SIZE ? key.part[0] : -1;
}
int stencilIndex(const FragmentKey& key) {
    if (key.part[0] >= 6 || key.part[1] >= 6 || key.part[2] >= 6) return -1;
    return key.part[0] + 6 * key.part[1] + 36 * key.part[2];
}
// The table has room for source codes below 128 only; a larger one would land
// outside it, so it is refused like any other key out of range.
int blendIndex(const FragmentKey& key) {
    if (key.part[0] >= BLEND_TABLE_SIZE / 256) return -1;
    return key.part[0] * 256 + key.part[1];
}
int texEnvIndex(const FragmentKey& key) {
    return key.part[0] < TEXENV_TABLE_SIZE ? key.part[0] : -1;
}

FragmentTables& tables();

template <typename Op, size_t Size>
void emptyTable(FragmentTable<Op, Size>& table) {
    ++tables().generation;
    for (Op*& entry : table.entries) entry = nullptr;
}

template <typename Op, size_t Size>
int resetTable(FragmentTable<Op, Size>& table) {
    table.built = 0;
    emptyTable(table);
    table.built = 1;
    return 0;
}

template <typename Op, size_t Size, typename IndexOf>
int install(FragmentTable<Op, Size>& table, Op* op, IndexOf indexOf) {
    if (op == nullptr) return SGL_ERR_INVALID;
    ++tables().generation;
    FragmentKey key;
    for (unsigned i = 0; op->enumerateKeys(key, i) == 1; ++i) {
        const int index = indexOf(key);
        if (index < 0) return SGL_ERR_RANGE;
        table.entries[index] = op;
    }
    return 0;
}

template <typename Op, size_t Size, typename IndexOf>
void remove(FragmentTable<Op, Size>& table, const Op* op, IndexOf indexOf) {
    if (op == nullptr) return;
    ++tables().generation;
    FragmentKey key;
    for (unsigned i = 0; op->enumerateKeys(key, i) == 1; ++i) {
        const int index = indexOf(key);
        if (index < 0) return;
        table.entries[index] = nullptr;
    }
}

FragmentTables& tables() {
    return renderContext.tables;
}

}  // namespace

int resetAlphaTable() {
    return resetTable(tables().alpha);
}
int resetDepthTable() {
    return resetTable(tables().depth);
}
int resetStencilTable() {
    return resetTable(tables().stencil);
}
int resetBlendTable() {
    return resetTable(tables().blend);
}

int resetTexEnvTable() {
    FragmentTables& t = tables();
    emptyTable(t.texEnv);
    createOnce<TexEnvReplaceOp>(t.texEnvReplaceOp);
    createOnce<TexEnvModulateOp>(t.texEnvModulateOp);
    createOnce<TexEnvAddSubtractOp>(t.texEnvAddSubtractOp);
    installTexEnvOp(t.texEnvReplaceOp);
    installTexEnvOp(t.texEnvModulateOp);
    installTexEnvOp(t.texEnvAddSubtractOp);
    return 0;
}

int installAlphaOp(AlphaFragmentOp* op) {
    return install(tables().alpha, op, alphaIndex);
}
int installDepthOp(DepthFragmentOp* op) {
    return install(tables().depth, op, depthIndex);
}
int installStencilOp(StencilFragmentOp* op) {
    return install(tables().stencil, op, stencilIndex);
}
int installBlendOp(BlendFragmentOp* op) {
    return install(tables().blend, op, blendIndex);
}
int installTexEnvOp(TexEnvFragmentOp* op) {
    return install(tables().texEnv, op, texEnvIndex);
}

void removeAlphaOp(const AlphaFragmentOp* op) {
    remove(tables().alpha, op, alphaIndex);
}
void removeDepthOp(const DepthFragmentOp* op) {
    remove(tables().depth, op, depthIndex);
}
void removeStencilOp(const StencilFragmentOp* op) {
    remove(tables().stencil, op, stencilIndex);
}
void removeBlendOp(const BlendFragmentOp* op) {
    remove(tables().blend, op, blendIndex);
}

uint8_t depthTestSpan(const float* depths, const float* depthRow, uint8_t* mask, uint16_t n) {
    const RenderContext& rc = renderContext;
    if (!rc.tables.depth.built) return 0;
    const DepthFragmentOp* op = rc.tables.depth.entries[rc.depthFunc];
    if (op == nullptr) return 0;
    const uint8_t func = sglIsEnabled(SGL_DEPTH_TEST) ? rc.depthFunc : 1;
    // Functions 0 and 1 never read the stored depth; the others need a depth buffer.
    if (depthRow == nullptr && func > 1) return 0;
    return op->test(depths, depthRow, mask, func, n);
}

void depthWriteSpan(const float* depths, float* depthRow, const uint8_t* mask, uint16_t n) {
    const RenderContext& rc = renderContext;
    if (!rc.tables.depth.built || rc.depthWrite != 1 || !sglIsEnabled(SGL_DEPTH_TEST)) return;
    const DepthFragmentOp* op = rc.tables.depth.entries[rc.depthFunc];
    if (op == nullptr || depthRow == nullptr) return;
    op->writeDepth(depths, depthRow, mask, n);
}

uint8_t stencilTestSpan(uint8_t* stencilRow, uint8_t* mask, uint16_t n) {
    const RenderContext& rc = renderContext;
    if (!rc.tables.stencil.built) return 0;
    if (!sglIsEnabled(SGL_STENCIL_TEST)) return 1;
    const StencilFragmentOp* op =
        rc.tables.stencil
            .entries[rc.stencilOpRejected + 6 * rc.stencilOpFail + 36 * rc.stencilOpPass];
    if (op == nullptr || stencilRow == nullptr) return 0;
    return op->test(stencilRow, mask, n, rc.stencilOpRejected, rc.stencilOpFail, rc.stencilOpPass,
                    rc.stencilValueMask, rc.stencilFunc, rc.stencilRef, rc.stencilWriteMask);
}

uint8_t alphaTestSpan(const uint8_t* colors, uint8_t* mask, uint16_t n) {
    const RenderContext& rc = renderContext;
    if (!rc.tables.alpha.built) return 0;
    if (!sglIsEnabled(SGL_ALPHA_TEST)) return 1;
    const AlphaFragmentOp* op = rc.tables.alpha.entries[rc.alphaFunc];
    if (op == nullptr) return 0;
    return op->test(colors, mask, rc.alphaFunc, rc.alphaRef, n);
}

const BlendFragmentOp* currentBlend(uint8_t& srcCode, uint8_t& dstCode) {
    const RenderContext& rc = renderContext;
    if (!rc.tables.blend.built) return nullptr;
    // With blending off, fragments are written through the pair (ONE, ZERO).
    const bool on = sglIsEnabled(SGL_BLEND);
    srcCode = on ? rc.blendSrc : BLEND_ONE;
    dstCode = on ? rc.blendDst : BLEND_ZERO;
    // Source codes from 128 up have no entry; like an empty entry they write nothing.
    if (srcCode >= BLEND_TABLE_SIZE / 256) return nullptr;
    return rc.tables.blend.entries[srcCode * 256 + dstCode];
}

void blendSpan(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
               uint16_t n) {
    uint8_t srcCode = 0, dstCode = 0;
    const BlendFragmentOp* op = currentBlend(srcCode, dstCode);
    if (op != nullptr) op->blend(src, dst, out, mask, srcCode, dstCode, n);
}

void texEnvCombineSpan(const uint8_t* texels, const uint8_t* colors, uint8_t* out,
                       const uint8_t* mask, uint16_t n) {
    const RenderContext& rc = renderContext;
    const TexEnvFragmentOp* op = rc.tables.texEnv.entries[rc.texEnvMode];
    if (op == nullptr) return;
    op->combine(texels, colors, out, mask, rc.texEnvMode, n);
}

void texEnvCombineConstantSpan(const uint8_t* texels, const uint8_t* color, uint8_t* out,
                               const uint8_t* mask, uint16_t n) {
    const RenderContext& rc = renderContext;
    const TexEnvFragmentOp* op = rc.tables.texEnv.entries[rc.texEnvMode];
    if (op == nullptr) return;
    op->combineConstant(texels, color, out, mask, rc.texEnvMode, n);
}
