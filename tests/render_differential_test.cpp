// The fused span loops against the stage-by-stage path: the same random
// states, triangles and spans drawn once each way into buffers that start out
// the same must leave every colour, depth and stencil byte the same. The
// states lean towards those the fused loops take, the geometry includes the
// odd cases of the fuzz test (NaN, infinities, huge and tiny values), and the
// buffers start with depths that make every comparison go both ways.
#include <gtest/gtest.h>

#include "tests/xorshift_random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "image/surface.h"
#include "render/avx2.h"
#include "render/rasterizer.h"
#include "render/rasterizer_internal.h"
#include "render/render_context.h"
#include "render/sgl.h"
#include "render/texenv_ops.h"

namespace {

constexpr int16_t WIDTH = 160;
constexpr int16_t HEIGHT = 100;

class Random : public XorshiftRandom {
  public:
    explicit Random(uint32_t seed) : XorshiftRandom(seed) {}
    float special() {
        static const float VALUES[] = {std::numeric_limits<float>::quiet_NaN(),
                                       std::numeric_limits<float>::infinity(),
                                       -std::numeric_limits<float>::infinity(),
                                       3e9f,
                                       -3e9f,
                                       1e30f,
                                       -1e30f,
                                       1e5f,
                                       -1e5f,
                                       0.0f,
                                       -0.0f,
                                       1.0f,
                                       std::numeric_limits<float>::denorm_min(),
                                       -std::numeric_limits<float>::denorm_min(),
                                       std::numeric_limits<float>::min()};
        return VALUES[next() % (sizeof VALUES / sizeof VALUES[0])];
    }
    float coordinate(float range) { return chance(6) ? special() : uniform(-range, range); }
};

// One render target with its own buffers and textures.
struct Target {
    Surface color, depth, stencil;
    Surface textures[4];
    FrameBuffer frameBuffer;

    Target() {
        color.create({WIDTH, HEIGHT}, 4);
        depth.create({WIDTH, HEIGHT}, 4);
        stencil.create({WIDTH, HEIGHT}, 1);
        const Size16 sizes[4] = {{64, 64}, {8, 8}, {5, 3}, {1, 64}};
        for (int i = 0; i < 4; ++i) {
            textures[i].create(sizes[i], 4);
            uint8_t* p = textures[i].pixels();
            const size_t bytes = size_t(textures[i].pitch()) * size_t(sizes[i].height);
            for (size_t b = 0; b < bytes; ++b) p[b] = uint8_t(b * 37u + b / 7u);
        }
        frameBuffer.init();
        frameBuffer.attach(&color, SGL_COLOR_BUFFER);
        frameBuffer.attach(&depth, SGL_DEPTH_BUFFER);
        frameBuffer.attach(&stencil, SGL_STENCIL_BUFFER);
    }

    ~Target() {
        frameBuffer.release();
        color.release();
        depth.release();
        stencil.release();
        for (Surface& t : textures) t.release();
    }

    // Colour and stencil from the seed; depths a mix of ordinary 1/w values,
    // zeros of both signs, denormals, infinities and NaN.
    void fill(uint32_t seed) {
        Random random(seed);
        uint8_t* c = color.pixels();
        for (int i = 0; i < WIDTH * HEIGHT * 4; ++i) c[i] = uint8_t(random.next());
        uint8_t* s = stencil.pixels();
        for (int i = 0; i < WIDTH * HEIGHT; ++i) s[i] = uint8_t(random.next());
        float* d = reinterpret_cast<float*>(depth.pixels());
        for (int i = 0; i < WIDTH * HEIGHT; ++i) {
            d[i] = random.chance(10) ? random.special() : random.uniform(0.0f, 1.0f);
        }
    }

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> all;
        for (const Surface* s : {&color, &depth, &stencil}) {
            const uint8_t* p = s->pixels();
            all.insert(all.end(), p, p + size_t(s->pitch()) * HEIGHT);
        }
        return all;
    }
};

// Random state, mostly one the fused loops take.
void randomState(Random& random, Target& target) {
    for (uint8_t cap = 1; cap <= 7; ++cap) sglDisable(cap);
    if (random.chance(85)) sglEnable(SGL_DEPTH_TEST);
    if (random.chance(50)) sglEnable(SGL_TEXTURE);
    if (random.chance(50)) sglEnable(SGL_SMOOTH);
    if (random.chance(40)) sglEnable(SGL_BLEND);
    if (random.chance(30)) sglEnable(SGL_TEXTURE_ENV);
    if (random.chance(25)) sglEnable(SGL_ALPHA_TEST);
    if (random.chance(25)) sglEnable(SGL_STENCIL_TEST);
    sglBindTexture(random.chance(90) ? &target.textures[random.next() % 4] : nullptr);
    sglDepthFunc(uint8_t(random.chance(50) ? 2 : random.next() % 8));
    sglDepthMask(uint8_t(random.chance(80) ? 1 : random.next() % 3));
    sglAlphaFunc(uint8_t(random.next() % 8), uint8_t(random.next()));
    sglStencilFunc(uint8_t(random.next() % 8), uint8_t(random.next()));
    // Rejected pixels kept half the time, as the fused loops' stencil test needs.
    sglStencilOp(uint8_t(random.chance(50) ? 1 : random.next() % 6), uint8_t(random.next() % 6),
                 uint8_t(random.next() % 6));
    sglTexEnvMode(uint8_t(random.next() % 4));
    static const uint8_t CODES[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x22,
                                    0x23, 0x24, 0x25, 0x42, 0x43, 0x44, 0x45};
    uint8_t src = CODES[random.next() % 14];
    uint8_t dst = CODES[random.next() % 14];
    if (random.chance(15)) {  // the usual transparency pair, which the plain loops take
        src = 0x03;
        dst = 0x05;
    }
    if (random.chance(5)) src = uint8_t(random.next());  // codes without an entry
    sglBlendFunc(src, dst);
    const uint8_t k[4] = {uint8_t(random.next()), uint8_t(random.next()), uint8_t(random.next()),
                          uint8_t(random.next())};
    sglBlendColor4ubv(k);
}

void randomScreenTriangle(Random& random) {
    ScreenVertex* v = renderContext.screenVertices;
    const float range = random.chance(70) ? 200.0f : 1e6f;
    for (int i = 0; i < 3; ++i) {
        v[i].x = random.coordinate(range);
        v[i].y = random.coordinate(range);
        v[i].w = random.chance(85) ? random.uniform(1.0f, 100.0f) : random.coordinate(10.0f);
        v[i].s = random.coordinate(random.chance(50) ? 64.0f : 5000.0f);
        v[i].t = random.coordinate(random.chance(50) ? 64.0f : 5000.0f);
        for (uint8_t& c : v[i].color) c = uint8_t(random.next());
    }
    // Slivers and equal depths: rows and columns shared, flat 1/w.
    if (random.chance(15)) v[2].y = v[1].y;
    if (random.chance(10)) v[2].x = v[0].x;
    if (random.chance(20)) v[1].w = v[2].w = v[0].w;
}

// Spans straight into drawSpan, with both ends and 1/w chosen freely.
void randomSpans(Random& random) {
    latchTriangleState();
    for (int i = 0; i < 20; ++i) {
        EdgeSlot& a = edgeSlots[0];
        EdgeSlot& b = edgeSlots[1];
        triangleSetup.aIsLeft = uint8_t(random.next() % 2);
        for (EdgeSlot* e : {&a, &b}) {
            e->sOverW = random.coordinate(50.0f);
            e->tOverW = random.coordinate(50.0f);
            for (uint16_t& c : e->color) c = uint16_t(random.next());
        }
        const int16_t y = int16_t(random.next() % HEIGHT);
        const int16_t xl = int16_t(int(random.next() % 400) - 120);
        const int16_t xr = int16_t(xl + int(random.next() % 300) - 20);
        float invWLeft = random.chance(10) ? random.special() : random.uniform(0.0f, 1.0f);
        float invWRight = random.chance(10) ? random.special() : random.uniform(0.0f, 1.0f);
        // Nearly equal ends: steps many binary places below the value.
        if (random.chance(25)) invWRight = invWLeft * (1.0f + random.uniform(-1e-5f, 1e-5f));
        // Ends a few units in the last place apart: steps so fine that the
        // double sums round, and the rounding decides some of the floats.
        if (random.chance(25)) {
            invWRight = invWLeft;
            for (uint32_t k = random.next() % 8; k > 0; --k) {
                invWRight = std::nextafter(invWRight, 2.0f);
            }
        }
        // A span starting at 1/w = -0 with steps of the least float: its
        // first depth must keep the sign of zero.
        if (random.chance(10)) {
            invWLeft = -0.0f;
            invWRight = -std::numeric_limits<float>::denorm_min() * float(xr - xl);
        }
        drawSpan(y, xl, xr, invWLeft, invWRight);
    }
}

void randomPipelineTriangles(Random& random) {
    sglMatrixMode(SGL_PROJECTION);
    sglLoadIdentity();
    sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
    sglMatrixMode(SGL_MODELVIEW);
    sglLoadIdentity();
    sglRotateYf(random.uniform(-60.0f, 60.0f));
    sglBegin(random.chance(50) ? SGL_TRIANGLES : SGL_QUADS);
    for (int v = 0; v < 12; ++v) {
        sglColor4ub(uint8_t(random.next()), uint8_t(random.next()), uint8_t(random.next()),
                    uint8_t(random.next()));
        sglTexCoord2f(random.uniform(-2.0f, 2.0f), random.uniform(-2.0f, 2.0f));
        const float z = random.uniform(0.5f, 30.0f);
        sglVertex3f(random.uniform(-1.2f, 1.2f) * z, random.uniform(-1.2f, 1.2f) * z, z);
    }
    sglEnd();
}

struct Outcome {
    std::vector<uint8_t> bytes;
    int fusedTriangles = 0;
    std::vector<TriangleWalk> walks;  // the walk each round's state chose, if any
};

enum class Path { STAGED, FUSED, FUSED_BASELINE_WALKS };

// Runs scene(random, target) on fresh buffers on the stage-by-stage path, or
// with the fused loops allowed, their walks the processor's widest or the
// baseline ones.
Outcome draw(uint32_t seed, Path path, const std::function<void(Random&, Target&)>& scene) {
    Target target;
    target.fill(seed);
    sglInit();
    sglBindFrameBuffer(&target.frameBuffer);
    fusedSpansAllowed = path != Path::STAGED ? 1 : 0;
    avx2Allowed = path == Path::FUSED ? 1 : 0;
    Random random(seed * 2654435761u);
    Outcome outcome;
    for (int round = 0; round < 60; ++round) {
        randomState(random, target);
        latchTriangleState();
        outcome.fusedTriangles += triangleSetup.fused;
        if (triangleSetup.walk != nullptr) outcome.walks.push_back(triangleSetup.walk);
        scene(random, target);
    }
    fusedSpansAllowed = 1;
    avx2Allowed = 1;
    sglBindTexture(nullptr);
    renderContext.frameBuffer = nullptr;
    outcome.bytes = target.bytes();
    return outcome;
}

void expectSameBytes(const std::function<void(Random&, Target&)>& scene) {
    int fusedTriangles = 0;
    size_t walkedStates = 0;
    const bool avx2 = avx2Usable();
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        const Outcome general = draw(seed, Path::STAGED, scene);
        std::vector<TriangleWalk> widestWalks;
        for (const Path path : {Path::FUSED, Path::FUSED_BASELINE_WALKS}) {
            const Outcome fused = draw(seed, path, scene);
            // Where the processor has AVX2, every walk of the fused path is
            // the AVX2 one: the baseline path chooses others for the same states.
            if (path == Path::FUSED) widestWalks = fused.walks;
            if (path == Path::FUSED_BASELINE_WALKS) {
                ASSERT_EQ(fused.walks.size(), widestWalks.size());
                for (size_t i = 0; i < widestWalks.size(); ++i) {
                    EXPECT_EQ(fused.walks[i] != widestWalks[i], avx2) << "seed " << seed;
                }
                walkedStates += widestWalks.size();
            }
            ASSERT_EQ(fused.bytes.size(), general.bytes.size());
            for (size_t i = 0; i < fused.bytes.size(); ++i) {
                ASSERT_EQ(fused.bytes[i], general.bytes[i])
                    << "seed " << seed << ", path " << int(path) << ", byte " << i;
            }
            if (path == Path::FUSED) fusedTriangles += fused.fusedTriangles;
        }
    }
    // The states must actually reach the fused loops, and not always.
    EXPECT_GT(fusedTriangles, 200);
    EXPECT_LT(fusedTriangles, 12 * 60);
    EXPECT_GT(walkedStates, 0u);
}

}  // namespace

TEST(RenderDifferentialTest, ScreenTrianglesMatchTheStageByStagePath) {
    expectSameBytes([](Random& random, Target&) {
        for (int i = 0; i < 8; ++i) {
            randomScreenTriangle(random);
            rasterizeTriangle();
        }
    });
}

// One colour at all three corners, which smooth textured triangles draw
// without their smooth colours, on the FrameBuffer, where later ones cover
// less of them.
TEST(RenderDifferentialTest, OneColorTrianglesMatchTheStageByStagePath) {
    expectSameBytes([](Random& random, Target&) {
        for (int i = 0; i < 4; ++i) {
            randomScreenTriangle(random);
            ScreenVertex* v = renderContext.screenVertices;
            for (int k = 0; k < 3; ++k) {
                v[k].x = random.uniform(-20.0f, WIDTH + 20.0f);
                v[k].y = random.uniform(-10.0f, HEIGHT + 10.0f);
                std::memcpy(v[k].color, v[0].color, 4);
            }
            rasterizeTriangle();
        }
    });
}

TEST(RenderDifferentialTest, ClippedAndOddSpansMatchTheStageByStagePath) {
    expectSameBytes([](Random& random, Target&) { randomSpans(random); });
}

TEST(RenderDifferentialTest, PipelineTrianglesMatchTheStageByStagePath) {
    expectSameBytes([](Random& random, Target&) { randomPipelineTriangles(random); });
}

// The colour Surface doubling as depth buffer or texture: every stage reads
// what the one before it left, in the same order either way.
TEST(RenderDifferentialTest, SharedSurfacesMatchTheStageByStagePath) {
    expectSameBytes([](Random& random, Target& target) {
        if (random.chance(50)) {
            target.frameBuffer.attach(&target.color, SGL_DEPTH_BUFFER);
        } else {
            target.frameBuffer.attach(&target.depth, SGL_DEPTH_BUFFER);
        }
        if (random.chance(50)) sglBindTexture(&target.color);
        randomScreenTriangle(random);
        rasterizeTriangle();
        randomPipelineTriangles(random);
    });
}

// A FrameBuffer without a depth Surface: the depth test passes everything
// and nothing is written, whatever the depth state says.
TEST(RenderDifferentialTest, TrianglesWithoutADepthBufferMatchTheStageByStagePath) {
    auto scene = [](Random& random, Target& target) {
        target.frameBuffer.release();
        target.frameBuffer.attach(&target.color, SGL_COLOR_BUFFER);
        if (random.chance(50)) target.frameBuffer.attach(&target.stencil, SGL_STENCIL_BUFFER);
        for (int i = 0; i < 6; ++i) {
            randomScreenTriangle(random);
            rasterizeTriangle();
        }
        randomSpans(random);
    };
    int fusedTriangles = 0;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        const Outcome fused = draw(seed, Path::FUSED, scene);
        ASSERT_EQ(fused.bytes, draw(seed, Path::STAGED, scene).bytes) << "seed " << seed;
        fusedTriangles += fused.fusedTriangles;
    }
    EXPECT_GT(fusedTriangles, 100);
}

// The texture-environment objects over spans long enough for their vector
// loops, against the per-pixel formulas: rejected pixels keep what out held.
TEST(RenderDifferentialTest, TextureEnvironmentSpansMatchThePerPixelFormulas) {
    const TexEnvModulateOp modulate;
    const TexEnvAddSubtractOp addSubtract;
    Random random(99);
    constexpr uint16_t n = 37;
    uint8_t a[n * 4], b[n * 4], out[n * 4], before[n * 4], mask[n], k[4];
    for (int round = 0; round < 200; ++round) {
        for (uint8_t& x : a) x = uint8_t(random.next());
        for (uint8_t& x : b) x = uint8_t(random.next());
        for (uint8_t& x : k) x = uint8_t(random.next());
        for (uint8_t& x : before) x = uint8_t(random.next());
        for (uint8_t& x : mask) x = random.chance(25) ? 255 : 0;
        if (round == 0) {  // the extremes
            for (unsigned i = 0; i < n * 4; ++i) a[i] = (i & 4) ? 255 : 0;
            for (unsigned i = 0; i < n * 4; ++i) b[i] = (i & 8) ? 255 : 0;
        }
        const uint8_t mode = uint8_t(1 + round % 3);
        const bool constant = (round / 3) % 2 == 1;
        std::memcpy(out, before, sizeof out);
        const TexEnvFragmentOp& op =
            mode == SGL_MODULATE ? static_cast<const TexEnvFragmentOp&>(modulate) : addSubtract;
        if (constant) {
            op.combineConstant(a, k, out, mask, mode, n);
        } else {
            op.combine(a, b, out, mask, mode, n);
        }
        for (unsigned i = 0; i < n; ++i) {
            for (unsigned j = 0; j < 4; ++j) {
                const unsigned x = a[i * 4 + j];
                const unsigned y = constant ? k[j] : b[i * 4 + j];
                unsigned expected = before[i * 4 + j];
                if (mask[i] == 0) {
                    expected = mode == SGL_MODULATE ? (x * y + y) >> 8
                               : mode == SGL_ADD    ? std::min(x + y, 255u)
                                                    : (x > y ? x - y : 0u);
                }
                ASSERT_EQ(out[i * 4 + j], expected)
                    << "mode " << int(mode) << " pixel " << i << " channel " << j;
            }
        }
    }
}

// Spans whose 1/w starts at -0 and falls by the least float per pixel, drawn
// where every depth is written: the first one keeps the sign of its zero.
TEST(RenderDifferentialTest, NegativeZeroDepthsMatchTheStageByStagePath) {
    expectSameBytes([](Random& random, Target&) {
        sglEnable(SGL_DEPTH_TEST);
        sglDisable(SGL_STENCIL_TEST);
        sglDisable(SGL_ALPHA_TEST);
        sglDepthFunc(random.chance(50) ? 1 : 4);
        sglDepthMask(1);
        latchTriangleState();
        triangleSetup.aIsLeft = 1;
        for (int i = 0; i < 10; ++i) {
            const int16_t y = int16_t(random.next() % HEIGHT);
            const int16_t xl = int16_t(random.next() % 100);
            const int16_t xr = int16_t(xl + 16 + random.next() % 40);
            drawSpan(y, xl, xr, -0.0f, -std::numeric_limits<float>::denorm_min() * float(xr - xl));
        }
    });
}

// Short spans textured from the colour buffer itself, each pixel reading one
// a few places along its own row: every texel is the one the row held before
// the span, whichever loop draws it.
TEST(RenderDifferentialTest, SpansTexturedFromTheirOwnRowReadItBeforeWriting) {
    auto drawRows = [](bool fused) {
        Target target;
        target.fill(7);
        sglInit();
        sglBindFrameBuffer(&target.frameBuffer);
        fusedSpansAllowed = fused ? 1 : 0;
        Random random(11);
        for (int round = 0; round < 400; ++round) {
            for (uint8_t cap = 1; cap <= 7; ++cap) sglDisable(cap);
            sglEnable(SGL_TEXTURE);
            if (random.chance(50)) sglEnable(SGL_DEPTH_TEST);
            sglDepthFunc(2);
            sglDepthMask(1);
            sglBindTexture(&target.color);
            latchTriangleState();
            triangleSetup.aIsLeft = 1;
            const int16_t y = int16_t(random.next() % HEIGHT);
            const int16_t xl = int16_t(8 + random.next() % 140);
            const int16_t xr = int16_t(xl + 1 + random.next() % 8);
            // 1/w = 1 throughout: pixel x samples texel x + offset of row y.
            const float offset = float(int(random.next() % 15) - 7);
            edgeSlots[0].sOverW = float(xl) + offset;
            edgeSlots[1].sOverW = float(xr) + offset;
            edgeSlots[0].tOverW = edgeSlots[1].tOverW = float(y) + 0.5f;
            drawSpan(y, xl, xr, 1.0f, 1.0f);
        }
        fusedSpansAllowed = 1;
        sglBindTexture(nullptr);
        renderContext.frameBuffer = nullptr;
        return target.bytes();
    };
    EXPECT_EQ(drawRows(true), drawRows(false));
}
