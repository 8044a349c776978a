// Context start-up, the render target, clearing, enables and the state setters.
#include "render/render_context.h"

#include <bit>
#include <cstring>

#include "render/alpha_test_op.h"
#include "render/blend_op.h"
#include "render/depth_op.h"
#include "render/fill.h"
#include "render/fixed_point.h"
#include "render/stencil_op.h"

RenderContext renderContext;

namespace {

// One 4-byte store: every vertex reads the colour back as one 4-byte load,
// which four byte stores would make wait until they reach the cache.
void setColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    uint32_t bytes = uint32_t{r} | uint32_t{g} << 8 | uint32_t{b} << 16 | uint32_t{a} << 24;
    if constexpr (std::endian::native == std::endian::big) {
        bytes =
            (bytes >> 24) | ((bytes >> 8) & 0xFF00u) | ((bytes << 8) & 0xFF0000u) | (bytes << 24);
    }
    std::memcpy(renderContext.currentColor, &bytes, 4);
}

}  // namespace

int sglInit() {
    RenderContext& rc = renderContext;
    sglShutdown();

    resetAlphaTable();
    resetDepthTable();
    resetStencilTable();
    resetBlendTable();
    resetTexEnvTable();

    // Install order matters for the blend table: each fast object takes over
    // the pairs it serves from the objects installed before it.
    FragmentTables& t = rc.tables;
    createOnce<AlphaTestOp>(t.alphaTestOp);
    installAlphaOp(t.alphaTestOp);
    createOnce<BlendOp>(t.blendOp);
    installBlendOp(t.blendOp);
    createOnce<BlendConstantOneOp>(t.blendConstantOneOp);
    installBlendOp(t.blendConstantOneOp);
    createOnce<BlendDestinationOneOp>(t.blendDestinationOneOp);
    installBlendOp(t.blendDestinationOneOp);
    createOnce<BlendSourcePairOp>(t.blendSourcePairOp);
    installBlendOp(t.blendSourcePairOp);
    createOnce<DepthOp>(t.depthOp);
    installDepthOp(t.depthOp);
    createOnce<StencilTestOp>(t.stencilTestOp);
    installStencilOp(t.stencilTestOp);

    // Matrix mode, matrices and the per-fragment settings survive a second sglInit.
    const uint8_t white[4] = {255, 255, 255, 255};
    const uint8_t black[4] = {0, 0, 0, 255};
    std::memcpy(rc.blendColor, white, 4);
    std::memcpy(rc.clearColor, black, 4);
    rc.clearDepth = 0;
    rc.clearStencil = 0;
    std::memcpy(rc.currentColor, white, 4);
    for (uint8_t& enable : rc.enables) enable = 0;
    rc.stackDepth = 0;
    rc.defaultZ = 1.0f;
    rc.defaultW = 1.0f;
    rc.frameBuffer = nullptr;

    rc.initialised = 1;
    return 0;
}

// Takes the objects out of their tables without destroying them; sglInit
// rebuilds every table right after.
void sglShutdown() {
    RenderContext& rc = renderContext;
    if (!rc.initialised) return;
    removeStencilOp(rc.tables.stencilTestOp);
    removeDepthOp(rc.tables.depthOp);
    removeBlendOp(rc.tables.blendOp);
    removeAlphaOp(rc.tables.alphaTestOp);
    rc.initialised = 0;
}

int sglBindFrameBuffer(FrameBuffer* fb) {
    if (fb == nullptr) return SGL_ERR_INVALID;
    renderContext.frameBuffer = fb;
    return 0;
}

FrameBuffer* sglGetFrameBuffer() {
    return boundFrameBuffer();
}

void sglClear(uint8_t mask) {
    const RenderContext& rc = renderContext;
    if (!rc.initialised || rc.frameBuffer == nullptr) return;
    FrameBuffer& fb = *rc.frameBuffer;
    mask &= fb.attachedMask();
    if (mask & SGL_COLOR_BUFFER) fillSurface(fb.surface(SGL_COLOR_BUFFER), rc.clearColor, nullptr);
    if (mask & SGL_DEPTH_BUFFER) fillSurface(fb.surface(SGL_DEPTH_BUFFER), &rc.clearDepth, nullptr);
    if (mask & SGL_STENCIL_BUFFER) {
        fillSurface(fb.surface(SGL_STENCIL_BUFFER), &rc.clearStencil, nullptr);
    }
}

void sglClearColor4ubv(const uint8_t rgba[4]) {
    if (rgba != nullptr) std::memcpy(renderContext.clearColor, rgba, 4);
}

void sglBindTexture(Surface* texture) {
    renderContext.texture = texture;
}

void sglEnable(uint8_t cap) {
    if (renderContext.primitiveKind == 0 && cap >= 1 && cap <= 7) renderContext.enables[cap] = 1;
}

void sglDisable(uint8_t cap) {
    if (renderContext.primitiveKind == 0 && cap >= 1 && cap <= 7) renderContext.enables[cap] = 0;
}

uint8_t sglIsEnabled(uint8_t cap) {
    return cap >= 1 && cap <= 7 ? renderContext.enables[cap] : 0;
}

void sglColor3f(float r, float g, float b) {
    setColor(truncToByte(r * 255.0f), truncToByte(g * 255.0f), truncToByte(b * 255.0f), 255);
}

void sglColor3ub(uint8_t r, uint8_t g, uint8_t b) {
    setColor(r, g, b, 255);
}

void sglColor4ub(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    setColor(r, g, b, a);
}

void sglColor3ubv(const uint8_t rgb[3]) {
    if (rgb != nullptr) setColor(rgb[0], rgb[1], rgb[2], 255);
}

void sglColor4ubv(const uint8_t rgba[4]) {
    if (rgba != nullptr) setColor(rgba[0], rgba[1], rgba[2], rgba[3]);
}

void sglTexCoord2f(float s, float t) {
    renderContext.currentTexCoord.set(s, t, 0.0f);
}

void sglTexCoord2fv(const float st[2]) {
    if (st != nullptr) sglTexCoord2f(st[0], st[1]);
}

int sglMatrixMode(uint8_t mode) {
    if (mode > 2) return SGL_ERR_INVALID;
    renderContext.matrixMode = mode;
    return 0;
}

void sglBlendColor4ubv(const uint8_t rgba[4]) {
    if (rgba != nullptr) std::memcpy(renderContext.blendColor, rgba, 4);
}

int sglGetBlendColor(uint8_t out[4]) {
    if (out == nullptr) return SGL_ERR_INVALID;
    std::memcpy(out, renderContext.blendColor, 4);
    return 0;
}

void sglBlendFunc(uint8_t src, uint8_t dst) {
    renderContext.blendSrc = src;
    renderContext.blendDst = dst;
}

void sglTexEnvMode(uint8_t mode) {
    if (mode < 4) renderContext.texEnvMode = mode;
}

int sglDepthFunc(uint8_t func) {
    if (func > 7) return SGL_ERR_INVALID;
    renderContext.depthFunc = func;
    return 0;
}

void sglDepthMask(uint8_t flag) {
    renderContext.depthWrite = flag;
}

void sglStencilFunc(uint8_t func, uint8_t ref) {
    if (func >= 8) return;
    renderContext.stencilFunc = func;
    renderContext.stencilRef = ref;
}

void sglStencilOp(uint8_t opRejected, uint8_t opFail, uint8_t opPass) {
    if (opRejected >= 6 || opFail >= 6 || opPass >= 6) return;
    renderContext.stencilOpRejected = opRejected;
    renderContext.stencilOpFail = opFail;
    renderContext.stencilOpPass = opPass;
}

void sglStencilValueMask(uint8_t mask) {
    renderContext.stencilValueMask = mask;
}

void sglStencilWriteMask(uint8_t mask) {
    renderContext.stencilWriteMask = mask;
}

int sglAlphaFunc(uint8_t func, uint8_t ref) {
    if (func > 7) return SGL_ERR_INVALID;
    renderContext.alphaFunc = func;
    renderContext.alphaRef = ref;
    return 0;
}
