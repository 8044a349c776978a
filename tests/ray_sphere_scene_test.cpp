// The sphere with light shafts: its mesh, its shaft pattern, its track tables,
// the animation they drive, replay mode, and whole frames against reference images.
#include "scenes/ray_sphere_scene.h"
#include "tests/reference_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "data/caption_sheets.h"
#include "platform/png_file.h"
#include "render/sub_image.h"
#include "render_fixture.h"
#include "scenekit/captions.h"
#include "scenes/sphere_mesh.h"
#include "show/demo.h"
#include "textmode/text_mode.h"

namespace {

// ---- Mesh -----------------------------------------------------------------------

struct GridPoint {
    int i;  // stack 0..8
    int j;  // segment 0..12
};

// The point of the sphere at stack i, segment j, straight from its definition.
void expectSpherePoint(int t, int corner, GridPoint g) {
    const double kDegree = 3.14159265358979323846 / 180.0;
    const double phi = (-90.0 + 22.5 * g.i) * kDegree;
    const double theta = 30.0 * g.j * kDegree;
    const double r = SPHERE_RADIUS;
    const float* p = sphereMesh.positions[sphereDrawnIndex(t, corner)];
    const float* st = sphereMesh.texCoords[sphereDrawnIndex(t, corner)];
    SCOPED_TRACE("triangle " + std::to_string(t) + " corner " + std::to_string(corner));
    EXPECT_NEAR(p[0], r * std::cos(phi) * std::cos(theta), 1e-8);
    EXPECT_NEAR(p[1], r * std::sin(phi), 1e-8);
    EXPECT_NEAR(p[2], -r * std::cos(phi) * std::sin(theta), 1e-8);
    EXPECT_FLOAT_EQ(st[0], g.j / 12.0f);
    EXPECT_FLOAT_EQ(st[1], g.i / 8.0f);
}

void expectTriangle(int t, GridPoint a, GridPoint b, GridPoint c) {
    expectSpherePoint(t, 0, a);
    expectSpherePoint(t, 1, b);
    expectSpherePoint(t, 2, c);
}

TEST(SphereMesh, TrianglesFollowTheStackAndSegmentTable) {
    EXPECT_EQ(SPHERE_INDEX_COUNT, 504);
    EXPECT_EQ(SPHERE_TRIANGLE_COUNT, 168);
    expectTriangle(0, {0, 0}, {1, 1}, {1, 0});      // first, at the south pole
    expectTriangle(11, {0, 11}, {1, 12}, {1, 11});  // closes the fan on segment 12
    expectTriangle(12, {1, 1}, {2, 0}, {1, 0});     // first cell of band 1
    expectTriangle(13, {1, 1}, {2, 1}, {2, 0});
    expectTriangle(94, {4, 6}, {5, 5}, {4, 5});  // middle: b = 4, m = 5
    expectTriangle(95, {4, 6}, {5, 6}, {5, 5});
    expectTriangle(155, {6, 12}, {7, 12}, {7, 11});  // last cell of band 6
    expectTriangle(156, {7, 1}, {8, 0}, {7, 0});     // first of the north fan
    expectTriangle(167, {7, 12}, {8, 11}, {7, 11});  // last
}

TEST(SphereMesh, PolesAreExactAndKeepTheirSegmentsTextureCoordinate) {
    for (int m = 0; m < 12; ++m) {
        const float* south = sphereMesh.positions[sphereDrawnIndex(m, 0)];
        EXPECT_EQ(south[0], 0.0f);
        EXPECT_EQ(south[1], -SPHERE_RADIUS);
        EXPECT_EQ(south[2], 0.0f);
        EXPECT_EQ(sphereMesh.texCoords[sphereDrawnIndex(m, 0)][0], m / 12.0f);
        EXPECT_EQ(sphereMesh.texCoords[sphereDrawnIndex(m, 0)][1], 0.0f);
        const float* north = sphereMesh.positions[sphereDrawnIndex(156 + m, 1)];
        EXPECT_EQ(north[0], 0.0f);
        EXPECT_EQ(north[1], SPHERE_RADIUS);
        EXPECT_EQ(north[2], 0.0f);
        EXPECT_EQ(sphereMesh.texCoords[sphereDrawnIndex(156 + m, 1)][1], 1.0f);
    }
}

TEST(SphereMesh, StoredTrianglesHaveTheirSecondAndThirdVerticesSwapped) {
    for (int k = 0; k < SPHERE_INDEX_COUNT; ++k) ASSERT_EQ(sphereMesh.indices[k], k);
    for (int t = 0; t < SPHERE_TRIANGLE_COUNT; ++t) {
        EXPECT_EQ(sphereDrawnIndex(t, 0), 3 * t);
        EXPECT_EQ(sphereDrawnIndex(t, 1), 3 * t + 2);
        EXPECT_EQ(sphereDrawnIndex(t, 2), 3 * t + 1);
    }
}

// A closed surface with one winding: every directed edge between two distinct
// points is used once, and its reverse once, by the other triangle on that edge.
TEST(SphereMesh, DrawnTrianglesCloseTheSphereWithOneWinding) {
    using Point = std::tuple<float, float, float>;
    std::map<std::pair<Point, Point>, int> edges;
    int outward = 0;
    for (int t = 0; t < SPHERE_TRIANGLE_COUNT; ++t) {
        Point p[3];
        for (int c = 0; c < 3; ++c) {
            const float* v = sphereMesh.positions[sphereDrawnIndex(t, c)];
            p[c] = {v[0], v[1], v[2]};
        }
        for (int c = 0; c < 3; ++c) ++edges[{p[c], p[(c + 1) % 3]}];
        const float* a = sphereMesh.positions[sphereDrawnIndex(t, 0)];
        const float* b = sphereMesh.positions[sphereDrawnIndex(t, 1)];
        const float* c = sphereMesh.positions[sphereDrawnIndex(t, 2)];
        const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                             u[0] * w[1] - u[1] * w[0]};
        const double centre[3] = {a[0] + b[0] + c[0], a[1] + b[1] + c[1], a[2] + b[2] + c[2]};
        const double facing = n[0] * centre[0] + n[1] * centre[1] + n[2] * centre[2];
        ASSERT_NE(facing, 0.0) << "degenerate triangle " << t;
        outward += facing > 0 ? 1 : -1;
    }
    EXPECT_EQ(std::abs(outward), SPHERE_TRIANGLE_COUNT);
    EXPECT_EQ(edges.size(), 3u * SPHERE_TRIANGLE_COUNT);
    for (const auto& [edge, uses] : edges) {
        EXPECT_EQ(uses, 1);
        EXPECT_EQ(edges.count({edge.second, edge.first}), 1u);
    }
}

// ---- Shaft pattern --------------------------------------------------------------

std::vector<uint32_t> shaftTriangles(uint16_t phase) {
    std::vector<uint32_t> list;
    for (uint32_t t = 0; t < SPHERE_TRIANGLE_COUNT; ++t)
        if (isShaftTriangle(t, phase)) list.push_back(t);
    return list;
}

TEST(RaySphereShafts, EveryEighteenthTriangleFromThePhase) {
    EXPECT_EQ(shaftTriangles(0),
              (std::vector<uint32_t>{0, 18, 36, 54, 72, 90, 108, 126, 144, 162}));
    EXPECT_EQ(shaftTriangles(18), shaftTriangles(0));
    EXPECT_EQ(shaftTriangles(50),
              (std::vector<uint32_t>{4, 22, 40, 58, 76, 94, 112, 130, 148, 166}));
    // 65535 mod 18 = 15: the sum is taken in 32 bits, not wrapped in 16.
    EXPECT_EQ(shaftTriangles(65535).front(), 3u);
    EXPECT_EQ(shaftTriangles(17).size(), 10u);  // 1, 19, ..., 163
    EXPECT_EQ(shaftTriangles(3).size(), 9u);    // 15, 33, ..., 159
}

// ---- Tracks ---------------------------------------------------------------------

// A scene whose init has run, with the shared shaft phase back at its start value.
struct FreshScene {
    FreshScene() {
        rayPhase = 0;
        scene.init();
    }
    RaySphereScene scene;
};

const void* targetOf(const Track& track) {
    switch (track.kind) {
        case TRACK_FLOAT:
            return track.floatParams.target;
        case TRACK_BYTE:
            return track.byteParams.target;
        default:
            return track.shortParams.target;
    }
}

struct TargetTracks {
    std::vector<const Track*> tracks;
    uint32_t kindMask = 0;
};

std::map<const void*, TargetTracks> tracksByTarget(const TrackList& list) {
    std::map<const void*, TargetTracks> byTarget;
    for (uint32_t i = 0; i < list.count(); ++i) {
        const Track& track = list.track(i);
        TargetTracks& entry = byTarget[targetOf(track)];
        entry.tracks.push_back(&track);
        entry.kindMask |= 1u << track.kind;
    }
    return byTarget;
}

TEST(RaySphereTracks, TracksOnOneTargetNeverOverlap) {
    FreshScene fresh;
    for (auto& [target, entry] : tracksByTarget(fresh.scene.tracks)) {
        EXPECT_EQ(std::popcount(entry.kindMask), 1);
        for (size_t a = 0; a < entry.tracks.size(); ++a)
            for (size_t b = a + 1; b < entry.tracks.size(); ++b) {
                const Track& x = *entry.tracks[a];
                const Track& y = *entry.tracks[b];
                EXPECT_TRUE(x.start + x.duration <= y.start || y.start + y.duration <= x.start)
                    << "tracks at " << x.start << " and " << y.start;
            }
    }
}

// The pump, the swing and the shaft-phase tracks each run without gaps.
TEST(RaySphereTracks, MotionSegmentsJoinWithoutGaps) {
    FreshScene fresh;
    RaySphereScene& s = fresh.scene;
    auto byTarget = tracksByTarget(s.tracks);
    struct Expected {
        const void* target;
        uint32_t first;
        uint32_t last;
    };
    const Expected runs[] = {
        {&s.sphereOffset.z, 38388, 58067},
        {&s.sphereOffset.x, 38388, 58067},
        {&s.angleZ, 48146, 58067},
        {&rayPhase, 48146, 51000},
    };
    for (const Expected& run : runs) {
        std::vector<const Track*> list = byTarget[run.target].tracks;
        std::sort(list.begin(), list.end(),
                  [](const Track* a, const Track* b) { return a->start < b->start; });
        EXPECT_EQ(list.front()->start, run.first);
        for (size_t k = 1; k < list.size(); ++k)
            EXPECT_EQ(list[k - 1]->start + list[k - 1]->duration, list[k]->start);
        EXPECT_EQ(list.back()->start + list.back()->duration, run.last);
    }
}

TEST(RaySphereTracks, CaptionsBuildUpLineByLine) {
    FreshScene fresh;
    RaySphereScene& s = fresh.scene;
    s.tracks.evaluate(39162);
    EXPECT_EQ(s.captionOn[0], 0);
    s.tracks.evaluate(39163);
    EXPECT_EQ(s.captionOn[0], 1);
    s.tracks.evaluate(41748);  // the byte track's window is over; the flag stays set
    EXPECT_EQ(s.captionOn[0], 1);
    EXPECT_EQ(s.captionOn[1], 0);
    EXPECT_EQ(s.captionAlpha[0], 255);
    s.tracks.evaluate(42249);  // line 1 in, line 0 half faded
    EXPECT_EQ(s.captionOn[1], 1);
    EXPECT_EQ(s.captionAlpha[0], 127);  // 255 - 255 x 500 / 1000 = 127.5, truncated
    s.tracks.evaluate(42748);
    EXPECT_EQ(s.captionAlpha[0], 0);  // 255 - 255 x 999 / 1000 = 0.255
    EXPECT_EQ(s.captionOn[0], 1);
    s.tracks.evaluate(42749);
    EXPECT_EQ(s.captionOn[0], 0);
    for (uint32_t t = 42760; t <= 58880; t += 20) s.tracks.evaluate(t);
    const uint8_t expectedOn[6] = {0, 0, 0, 0, 0, 1};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(s.captionOn[k], expectedOn[k]) << k;
    EXPECT_EQ(s.captionAlpha[5], 255);
}

TEST(RaySphereTracks, ShaftPhaseSweepsOnceAndStays) {
    FreshScene fresh;
    RaySphereScene& s = fresh.scene;
    s.tracks.evaluate(48145);
    EXPECT_EQ(rayPhase, 0);
    EXPECT_EQ(shaftTriangles(rayPhase).front(), 0u);
    s.tracks.evaluate(48146);
    EXPECT_EQ(rayPhase, 18);
    s.tracks.evaluate(48390);  // 18 + 32 x 244 / 488
    EXPECT_EQ(rayPhase, 34);
    s.tracks.evaluate(48633);
    EXPECT_EQ(rayPhase, 49);
    s.tracks.evaluate(48634);
    EXPECT_EQ(rayPhase, 50);
    EXPECT_EQ(shaftTriangles(rayPhase).front(), 4u);
    EXPECT_EQ(shaftTriangles(rayPhase).back(), 166u);
    s.tracks.evaluate(58000);
    EXPECT_EQ(rayPhase, 50);
    s.tracks.evaluate(40000);  // an earlier time has no phase track: 50 stays
    EXPECT_EQ(rayPhase, 50);
}

TEST(RaySphereTracks, MotionAtChosenMoments) {
    FreshScene fresh;
    RaySphereScene& s = fresh.scene;
    s.tracks.evaluate(38388);
    EXPECT_EQ(s.sphereOffset.z, 7.0f);
    EXPECT_EQ(s.sphereOffset.x, -1.0f);
    EXPECT_EQ(s.angleX, 0.0f);
    EXPECT_EQ(s.angleY, 0.0f);
    s.tracks.evaluate(38542);  // pump 7 -> 3 over 308 ms, quadratic, d = 154: q = 0.25
    EXPECT_EQ(s.sphereOffset.z, 6.0f);
    s.tracks.evaluate(39668);  // 39665: 7 -> 3 begins, d = 3
    EXPECT_NEAR(s.sphereOffset.z, 7.0f - 4.0f * 9.0f / (319.0f * 319.0f), 1e-6);
    s.tracks.evaluate(40228);  // swing -1 -> 1 over 488 ms, d = 244
    EXPECT_EQ(s.sphereOffset.x, -0.5f);
    s.tracks.evaluate(39668);  // turning 0 -> 90 over 2560 ms, d = 1280
    EXPECT_EQ(s.angleX, 45.0f);
    s.tracks.evaluate(46074);  // angleY jumps back to 180
    EXPECT_EQ(s.angleY, 180.0f);
    EXPECT_EQ(s.angleX, -90.0f);
    s.tracks.evaluate(48146);  // Z turns alone while the shafts sweep
    EXPECT_EQ(s.angleZ, 0.0f);
    EXPECT_EQ(s.sphereOffset.x, 1.0f);
    EXPECT_EQ(s.sphereOffset.z, 7.0f);
}

// After 58067 nothing moves the sphere: it rests where the last frame put it.
TEST(RaySphereTracks, SphereRestsAfterItsLastTracks) {
    FreshScene fresh;
    RaySphereScene& s = fresh.scene;
    for (uint32_t t = 38400; t <= 58880; t += 20) s.tracks.evaluate(t);
    EXPECT_NEAR(s.sphereOffset.z, 5.0f, 0.2f);
    EXPECT_NEAR(s.sphereOffset.x, 0.0f, 0.02f);
    EXPECT_NEAR(s.angleX, 180.0f, 3.0f);
    EXPECT_NEAR(s.angleY, 270.0f, 1.0f);
    EXPECT_NEAR(s.angleZ, 270.0f, 3.0f);
    EXPECT_EQ(s.coverOn, 1);
    EXPECT_EQ(s.coverDiamond, 1);
}

// ---- Rendering ------------------------------------------------------------------

class RaySphereRender : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        rayPhase = 0;
        ASSERT_EQ(scene.init(), 0);
        std::copy(sheet1Lines, sheet1Lines + 12, savedSheet1);
        std::copy(sheet2Lines, sheet2Lines + 11, savedSheet2);
    }
    void TearDown() override {
        std::copy(savedSheet1, savedSheet1 + 12, sheet1Lines);
        std::copy(savedSheet2, savedSheet2 + 11, sheet2Lines);
        for (Surface& sheet : sheets) sheet.release();
        RenderTest::TearDown();
    }

    // The caption lines of the scene, cut from the real caption sheets.
    void useCaptionSheets() {
        const uint8_t* images[2] = {textSheet1Image, textSheet2Image};
        const int16_t heights[2] = {TEXT_SHEET1_HEIGHT, TEXT_SHEET2_HEIGHT};
        for (int n = 0; n < 2; ++n) {
            ASSERT_EQ(sheets[n].create({160, heights[n]}, 4), 0);
            std::memcpy(sheets[n].pixels(), images[n], size_t(160) * heights[n] * 4);
        }
        for (int k = 8; k < 12; ++k) {
            const int16_t rect[4] = {0, SHEET1_LINE_RECTS[k].y, SHEET1_LINE_RECTS[k].width, 14};
            ASSERT_EQ(lines[k - 8].init(rect, &sheets[0]), 0);
            sheet1Lines[k] = &lines[k - 8];
        }
        for (int k = 0; k < 2; ++k) {
            const int16_t rect[4] = {0, SHEET2_LINE_RECTS[k].y, SHEET2_LINE_RECTS[k].width, 14};
            ASSERT_EQ(lines[4 + k].init(rect, &sheets[1]), 0);
            sheet2Lines[k] = &lines[4 + k];
        }
    }
    void noCaptionSheets() {
        for (int k = 8; k < 12; ++k) sheet1Lines[k] = nullptr;
        for (int k = 0; k < 2; ++k) sheet2Lines[k] = nullptr;
    }

    // Runs the tracks through the frames the show evaluates before demo time
    // `demoTime` (one every 20 ms from the scene's start), so that values left
    // behind by finished tracks are what they are in the show, then renders.
    void renderShownFrame(uint32_t demoTime) {
        for (uint32_t t = 38400; t < demoTime; t += 20) scene.tracks.evaluate(t);
        scene.render(demoTime - RAY_SPHERE_START);
    }

    std::vector<uint8_t> picture() {
        return std::vector<uint8_t>(color.pixels(), color.pixels() + 160 * 100 * 4);
    }

    RaySphereScene scene;
    Surface sheets[2];
    SubImage lines[6];
    SubImage* savedSheet1[12] = {};
    SubImage* savedSheet2[11] = {};
};

TEST_F(RaySphereRender, SelectsTheFontTextModeAndLeavesStateOff) {
    setTextMode(1);
    scene.render(1000);
    EXPECT_EQ(textMode(), 0);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 0);
    EXPECT_EQ(sglIsEnabled(SGL_TEXTURE), 0);
    EXPECT_EQ(sglIsEnabled(SGL_SMOOTH), 0);
}

TEST_F(RaySphereRender, ReplayDrawsNoCaptions) {
    const uint32_t local = 44400 - RAY_SPHERE_START;  // caption line 2 comes on
    noCaptionSheets();
    scene.render(local);
    const std::vector<uint8_t> bare = picture();
    useCaptionSheets();
    scene.render(local);
    const std::vector<uint8_t> captioned = picture();
    scene.render(local + SCENE_REPLAY_OFFSET);
    const std::vector<uint8_t> replayed = picture();
    EXPECT_TRUE(captioned != bare);
    EXPECT_TRUE(replayed == bare);
}

TEST_F(RaySphereRender, ReplayClearsTheCoverBeforeTheTracksRun) {
    scene.render(58879 - RAY_SPHERE_START);
    EXPECT_EQ(scene.coverOn, 1);
    EXPECT_EQ(scene.coverDiamond, 1);
    const std::vector<uint8_t> covered = picture();

    // A replayed moment before the cover: the flags set above are gone.
    scene.render(SCENE_REPLAY_OFFSET + 50000 - RAY_SPHERE_START);
    EXPECT_EQ(scene.coverOn, 0);
    for (uint8_t corner : scene.coverCorner) EXPECT_EQ(corner, 0);
    EXPECT_EQ(scene.coverDiamond, 0);

    // Part of the way into the cover: only the pieces whose tracks act.
    scene.render(SCENE_REPLAY_OFFSET + 58560 - RAY_SPHERE_START);
    EXPECT_EQ(scene.coverOn, 1);
    EXPECT_EQ(scene.coverCorner[0], 1);
    EXPECT_EQ(scene.coverCorner[1], 1);
    EXPECT_EQ(scene.coverCorner[2], 0);
    EXPECT_EQ(scene.coverDiamond, 0);

    // The whole cover is the same picture in both modes (the caption is under it).
    scene.render(SCENE_REPLAY_OFFSET + 58879 - RAY_SPHERE_START);
    EXPECT_TRUE(picture() == covered);
}

TEST_F(RaySphereRender, OwnShowingKeepsTheCoverOnceSet) {
    scene.render(58879 - RAY_SPHERE_START);
    scene.render(60000 - RAY_SPHERE_START);  // past every track: nothing writes the flags
    EXPECT_EQ(scene.coverOn, 1);
    EXPECT_EQ(scene.coverCorner[2], 1);
}

TEST_F(RaySphereRender, CaptionsOverThePumpingSphere) {
    useCaptionSheets();
    renderShownFrame(44400);
    EXPECT_TRUE(matchesReferenceImage(color, "ray_sphere_44400"));
}

TEST_F(RaySphereRender, ClosingCoverHalfBuilt) {
    useCaptionSheets();
    renderShownFrame(58580);
    EXPECT_TRUE(matchesReferenceImage(color, "ray_sphere_58580"));
}

}  // namespace
