// The renderer's public interface driven by the fuzzer's bytes: any state,
// any primitives with any coordinates, textures and SubImage sources created
// again at other sizes after use, SubImages drawn anywhere. ASan checks every
// buffer access, UBSan the arithmetic.
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "image/surface.h"
#include "render/frame_buffer.h"
#include "render/sgl.h"
#include "render/sub_image.h"

namespace {

void fill(Surface& surface, uint8_t seed) {
    if (surface.pixels() == nullptr) return;
    const size_t bytes = size_t(surface.height()) * size_t(surface.pitch());
    for (size_t i = 0; i < bytes; ++i) surface.pixels()[i] = uint8_t(seed + i * 37);
}

void createSurface(Surface& surface, FuzzInput& in) {
    const int16_t width = int16_t(in.u8() % 80);  // 0: refused, as are odd pixel sizes
    const int16_t height = int16_t(in.u8() % 80);
    const uint8_t bytesPerPixel = in.u8() % 8 == 0 ? 1 : 4;
    surface.create({width, height}, bytesPerPixel);
    fill(surface, in.u8());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Surface color, depth, stencil;
    const int16_t width = int16_t(1 + in.u8() % 200);
    const int16_t height = int16_t(1 + in.u8() % 120);
    color.create({width, height}, 4);
    depth.create({width, height}, 4);
    stencil.create({width, height}, 1);
    fill(color, 1);
    fill(depth, 2);
    fill(stencil, 3);
    FrameBuffer frameBuffer;
    frameBuffer.init();
    const uint8_t attach = in.u8();
    if (attach & 1) frameBuffer.attach(&color, SGL_COLOR_BUFFER);
    if (attach & 2) frameBuffer.attach(&depth, SGL_DEPTH_BUFFER);
    if (attach & 4) frameBuffer.attach(&stencil, SGL_STENCIL_BUFFER);
    sglInit();
    sglBindFrameBuffer(&frameBuffer);

    Surface textures[2];
    SubImage images[3];
    for (int op = 0; op < 300 && !in.empty(); ++op) {
        switch (in.u8() % 16) {
            case 0:
                sglEnable(in.u8() % 9);
                break;
            case 1:
                sglDisable(in.u8() % 9);
                break;
            case 2: {
                const uint8_t which = in.u8() % 3;
                sglBindTexture(which < 2 ? &textures[which] : nullptr);
                break;
            }
            case 3:
                createSurface(textures[in.u8() % 2], in);
                break;
            case 4: {
                static const uint8_t KINDS[] = {SGL_LINES, SGL_TRIANGLES, SGL_POINTS, SGL_QUADS, 0,
                                                99};
                sglBegin(KINDS[in.u8() % 6]);
                const int vertices = in.u8() % 13;
                for (int v = 0; v < vertices; ++v) {
                    const uint8_t parts = in.u8();
                    if (parts & 1) sglColor4ub(in.u8(), in.u8(), in.u8(), in.u8());
                    if (parts & 2) sglTexCoord2f(in.f32(), in.f32());
                    if (parts & 4) {
                        sglVertex2f(in.f32(), in.f32());
                    } else {
                        sglVertex3f(in.f32(), in.f32(), in.f32());
                    }
                }
                sglEnd();
                break;
            }
            case 5:
                sglMatrixMode(in.u8() % 4);
                break;
            case 6:
                switch (in.u8() % 8) {
                    case 0:
                        sglLoadIdentity();
                        break;
                    case 1:
                        sglTranslatef(in.f32(), in.f32(), in.f32());
                        break;
                    case 2:
                        sglScalef(in.f32(), in.f32(), in.f32());
                        break;
                    case 3:
                        sglRotateXf(in.f32());
                        break;
                    case 4:
                        sglRotateYf(in.f32());
                        break;
                    case 5:
                        sglRotateZf(in.f32());
                        break;
                    case 6:
                        sglPushMatrix();
                        break;
                    default:
                        sglPopMatrix();
                        break;
                }
                break;
            case 7:
                sglFrustum(in.f32(), in.f32(), in.f32(), in.f32(), in.f32(), in.f32());
                break;
            case 8:
                sglBlendFunc(in.u8(), in.u8());
                break;
            case 9: {
                const uint8_t rgba[4] = {in.u8(), in.u8(), in.u8(), in.u8()};
                sglBlendColor4ubv(rgba);
                sglClearColor4ubv(rgba);
                break;
            }
            case 10:
                sglDepthFunc(in.u8() % 10);
                sglDepthMask(in.u8() % 3);
                sglAlphaFunc(in.u8() % 10, in.u8());
                sglTexEnvMode(in.u8() % 6);
                break;
            case 11:
                sglStencilFunc(in.u8() % 10, in.u8());
                sglStencilOp(in.u8() % 8, in.u8() % 8, in.u8() % 8);
                sglStencilValueMask(in.u8());
                sglStencilWriteMask(in.u8());
                break;
            case 12:
                sglClear(in.u8() % 8);
                break;
            case 13: {
                const int16_t rect[4] = {int16_t(in.i16() % 100), int16_t(in.i16() % 100),
                                         int16_t(in.i16() % 100), int16_t(in.i16() % 100)};
                const uint8_t which = in.u8();
                images[which % 3].init(rect, which & 0x80 ? nullptr : &textures[which / 3 % 2]);
                break;
            }
            case 14:
                images[in.u8() % 3].draw(in.i16(), in.i16());
                break;
            default:
                textures[in.u8() % 2].release();
                break;
        }
    }
    sglBindTexture(nullptr);
    sglBindFrameBuffer(nullptr);
    frameBuffer.release();
    for (Surface& t : textures) t.release();
    color.release();
    depth.release();
    stencil.release();
    return 0;
}
