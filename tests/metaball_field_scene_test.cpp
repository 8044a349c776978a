#include "scenes/metaball_field_scene.h"
#include "tests/reference_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "data/images.h"
#include "platform/png_file.h"
#include "render/render_context.h"
#include "render/sgl.h"
#include "tests/render_fixture.h"
#include "textmode/text_mode.h"

namespace {

void placeAll(Vec3 blobs[3], float x, float y) {
    for (int k = 0; k < 3; ++k) blobs[k].set(x, y, 0);
}

// ---- The field ----

TEST(MetaballField, NearTheTopAtABlobCentre) {
    // One blob alone (the others far away): S is 3, so F = 255 - 1/3.
    Vec3 blobs[3] = {{80, 50, 0}, {1.0e6f, 0, 0}, {0, 1.0e6f, 0}};
    const Extended80 f = metaballField(blobs, 80, 50);
    EXPECT_NEAR(f.toDouble(), 254.6667, 1e-4);
    EXPECT_LT(f, Extended80(255));
    // All three on one spot: S is 9.
    placeAll(blobs, 80, 50);
    EXPECT_NEAR(metaballField(blobs, 80, 50).toDouble(), 255.0 - 1.0 / 9.0, 1e-12);
}

TEST(MetaballField, ZeroWhereTheInverseSumReaches255) {
    Vec3 blobs[3];
    placeAll(blobs, 0, 0);
    // With the blobs together 1/S = (d^2 + 1) / 9: 245.6 at d = 47, 256.1 at d = 48.
    EXPECT_NEAR(metaballField(blobs, 47, 0).toDouble(), 255.0 - 2210.0 / 9.0, 1e-12);
    EXPECT_EQ(metaballField(blobs, 48, 0).toDouble(), 0.0);
    EXPECT_EQ(metaballField(blobs, 0, -48).toDouble(), 0.0);
    EXPECT_EQ(metaballField(blobs, 155, 95).toDouble(), 0.0);
}

// ---- Blob motion ----

TEST(MetaballBlobs, StartInTheMiddleOfThePlane) {
    Vec3 blobs[3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    placeBlobs(0, blobs);
    for (const Vec3& b : blobs) {
        EXPECT_EQ(b.x, 80.0f);
        EXPECT_EQ(b.y, 50.0f);
    }
}

TEST(MetaballBlobs, SwingWithTheRoundedDegreeFactor) {
    // Values worked out with 3.1415/180; with the exact pi blob 2's x would be 67.5165.
    Vec3 blobs[3];
    placeBlobs(20000, blobs);
    EXPECT_FLOAT_EQ(blobs[0].x, 51.72379684448242f);
    EXPECT_FLOAT_EQ(blobs[0].y, 75.51717376708984f);
    EXPECT_FLOAT_EQ(blobs[1].x, 108.57776641845703f);
    EXPECT_FLOAT_EQ(blobs[1].y, 56.97561264038086f);
    EXPECT_FLOAT_EQ(blobs[2].x, 67.5067138671875f);
    EXPECT_FLOAT_EQ(blobs[2].y, 40.10057067871094f);
    placeBlobs(12345, blobs);
    EXPECT_FLOAT_EQ(blobs[0].x, 88.6811752319336f);
    EXPECT_FLOAT_EQ(blobs[1].y, 51.49726867675781f);
    EXPECT_FLOAT_EQ(blobs[2].x, 108.05022430419922f);
}

// ---- The smooth mesh ----

TEST(MetaballSmoothGrid, SamplesThePlaneEveryFiveUnits) {
    Vec3 blobs[3];
    placeAll(blobs, 80, 50);
    float grid[SMOOTH_ROWS][SMOOTH_COLUMNS][3];
    sampleSmoothGrid(blobs, grid);
    EXPECT_EQ(grid[0][0][0], -1.0f);
    EXPECT_EQ(grid[0][0][1], -1.0f);
    EXPECT_EQ(grid[0][0][2], 0.0f);  // (0, 0) is far from the blobs
    EXPECT_EQ(grid[19][31][0], 0.9375f);
    EXPECT_EQ(grid[19][31][1], float(9 * 0.1));
    EXPECT_EQ(grid[10][16][0], 0.0f);
    EXPECT_EQ(grid[10][16][1], 0.0f);
    // Vertex (16, 10) is the plane point (80, 50), right on the blobs.
    EXPECT_FLOAT_EQ(grid[10][16][2], float((255.0 - 1.0 / 9.0) / 255.0));
    // (85, 50): d^2 = 25, 1/S = 26/9.
    EXPECT_FLOAT_EQ(grid[10][17][2], float((255.0 - 26.0 / 9.0) / 255.0));
    // (80, 95): d^2 = 2025, near the edge of the field; (80, 0) is past it.
    EXPECT_FLOAT_EQ(grid[19][16][2], float((255.0 - 2026.0 / 9.0) / 255.0));
    EXPECT_EQ(grid[0][16][2], 0.0f);
    for (int j = 0; j < SMOOTH_ROWS; ++j)
        for (int i = 0; i < SMOOTH_COLUMNS; ++i) {
            EXPECT_GE(grid[j][i][2], 0.0f);
            EXPECT_LT(grid[j][i][2], 1.0f);
        }
}

// ---- The block columns ----

TEST(MetaballBlocks, LevelsAreMultiplesOfFiftyRoundedDown) {
    EXPECT_EQ(blockLevel(0.0), 0);
    EXPECT_EQ(blockLevel(49.999), 0);
    EXPECT_EQ(blockLevel(50.0), 50);
    EXPECT_EQ(blockLevel(149.9), 100);
    EXPECT_EQ(blockLevel(200.5), 200);
    EXPECT_EQ(blockLevel(254.9), 250);
}

TEST(MetaballBlocks, HeightsComeInSixSteps) {
    Vec3 blobs[3];
    placeBlobs(9253, blobs);
    float heights[BLOCK_ROWS][BLOCK_COLUMNS];
    sampleBlockHeights(blobs, heights);
    const float steps[6] = {0.0f,         50 / 255.0f,  100 / 255.0f,
                            150 / 255.0f, 200 / 255.0f, 250 / 255.0f};
    bool seen[6] = {};
    for (int j = 0; j < BLOCK_ROWS; ++j)
        for (int i = 0; i < BLOCK_COLUMNS; ++i) {
            int step = -1;
            for (int s = 0; s < 6; ++s)
                if (heights[j][i] == steps[s]) step = s;
            ASSERT_GE(step, 0) << "cell " << i << "," << j << " height " << heights[j][i];
            seen[step] = true;
            const Extended80 f = metaballField(blobs, 13 * i, 11 * j);
            EXPECT_EQ(step * 50, f.truncateToInt() / 50 * 50);
        }
    EXPECT_TRUE(seen[0]);

    // All blobs at (80, 50): cell (6, 5) sits at (78, 55), d^2 = 29, F = 251.7.
    placeAll(blobs, 80, 50);
    sampleBlockHeights(blobs, heights);
    EXPECT_EQ(heights[5][6], 250 / 255.0f);
    EXPECT_EQ(heights[0][0], 0.0f);
}

struct CellFaces {
    int count;
    BlockQuad quads[5];
};

CellFaces facesOf(const float heights[BLOCK_ROWS][BLOCK_COLUMNS], int i, int j,
                  float brightness = 0.5f) {
    CellFaces faces{};
    faces.count = blockCellQuads(heights, i, j, brightness, faces.quads);
    return faces;
}

// Which side a quad is, told by its first vertex and its shape.
bool sideAt(const BlockQuad& quad, int axis, float value) {
    for (const auto& v : quad.vertices)
        if (v[2 + axis] != value) return false;
    return true;
}

TEST(MetaballBlocks, EdgeCellsShowTheirOuterSides) {
    float heights[BLOCK_ROWS][BLOCK_COLUMNS];
    const float h = 100 / 255.0f;
    for (auto& row : heights)
        for (float& cell : row) cell = h;

    const float left = -1.0f, right = 15 * 0.1333f - 1.0f;
    const float bottom = -1.0f, top = 9 * 0.2222f - 1.0f;

    // A plateau shows only its rim: the outer sides of the edge cells.
    EXPECT_EQ(facesOf(heights, 7, 4).count, 1);
    const CellFaces corner00 = facesOf(heights, 0, 0);
    ASSERT_EQ(corner00.count, 3);
    EXPECT_TRUE(sideAt(corner00.quads[1], 1, bottom));  // side at y0
    EXPECT_TRUE(sideAt(corner00.quads[2], 0, left));    // side at x0
    const CellFaces corner14_8 = facesOf(heights, 14, 8);
    ASSERT_EQ(corner14_8.count, 3);
    EXPECT_TRUE(sideAt(corner14_8.quads[1], 1, top));    // side at y1
    EXPECT_TRUE(sideAt(corner14_8.quads[2], 0, right));  // side at x1
    EXPECT_EQ(facesOf(heights, 0, 4).count, 2);
    EXPECT_EQ(facesOf(heights, 14, 4).count, 2);
    EXPECT_EQ(facesOf(heights, 7, 0).count, 2);
    EXPECT_EQ(facesOf(heights, 7, 8).count, 2);

    // The outer sides run down to the ground.
    for (int v = 0; v < 4; ++v) EXPECT_EQ(corner00.quads[1].vertices[v][4], v < 2 ? h : 0.0f) << v;
}

TEST(MetaballBlocks, FlatCellsHaveNoSides) {
    float heights[BLOCK_ROWS][BLOCK_COLUMNS] = {};
    for (int j : {0, 4, 8})
        for (int i : {0, 7, 14}) {
            const CellFaces faces = facesOf(heights, i, j);
            ASSERT_EQ(faces.count, 1);
            for (const auto& v : faces.quads[0].vertices) EXPECT_EQ(v[4], 0.0f);
            EXPECT_EQ(faces.quads[0].grey, 0.0f);
        }
    // Nor does a cell beside a higher one: sides face down only.
    heights[4][7] = 50 / 255.0f;
    EXPECT_EQ(facesOf(heights, 6, 4).count, 1);
    EXPECT_EQ(facesOf(heights, 7, 4).count, 5);
}

TEST(MetaballBlocks, SidesRunFromTheCellDownToItsNeighbour) {
    float heights[BLOCK_ROWS][BLOCK_COLUMNS] = {};
    const float h = 250 / 255.0f, low = 100 / 255.0f;
    heights[3][5] = h;
    heights[2][5] = low;  // row j - 1
    heights[4][5] = h;    // row j + 1: same height, no side
    heights[3][4] = low;  // column i - 1
    heights[3][6] = 150 / 255.0f;
    const CellFaces faces = facesOf(heights, 5, 3);
    ASSERT_EQ(faces.count, 4);  // top, y0, x0, x1

    const float x0 = 5 * 0.1333f - 1.0f, x1 = 6 * 0.1333f - 1.0f;
    const float y0 = 3 * 0.2222f - 1.0f, y1 = 4 * 0.2222f - 1.0f;
    const float s0 = 5 * 0.0625f, s1 = 6 * 0.0625f;
    const float t0 = float(3 * 0.1), t1 = float(4 * 0.1);
    const float top[4][5] = {
        {s0, t0, x0, y0, h}, {s1, t0, x1, y0, h}, {s1, t1, x1, y1, h}, {s0, t1, x0, y1, h}};
    const float sideY0[4][5] = {
        {s0, t0, x0, y0, h}, {s1, t0, x1, y0, h}, {s1, t0, x1, y0, low}, {s0, t0, x0, y0, low}};
    const float sideX0[4][5] = {
        {s0, t0, x0, y0, h}, {s0, t1, x0, y1, h}, {s0, t1, x0, y1, low}, {s0, t0, x0, y0, low}};
    const float sideX1[4][5] = {{s1, t0, x1, y0, h},
                                {s1, t1, x1, y1, h},
                                {s1, t1, x1, y1, 150 / 255.0f},
                                {s1, t0, x1, y0, 150 / 255.0f}};
    EXPECT_EQ(std::memcmp(faces.quads[0].vertices, top, sizeof top), 0);
    EXPECT_EQ(std::memcmp(faces.quads[1].vertices, sideY0, sizeof sideY0), 0);
    EXPECT_EQ(std::memcmp(faces.quads[2].vertices, sideX0, sizeof sideX0), 0);
    EXPECT_EQ(std::memcmp(faces.quads[3].vertices, sideX1, sizeof sideX1), 0);

    // Greys: b = brightness x h x 3 in float, each face its share of it.
    const float b = 0.5f * h * 3;
    EXPECT_EQ(faces.quads[0].grey, b * 0.5f);
    EXPECT_EQ(faces.quads[1].grey, float(double(b) * 0.3333333333333333));
    EXPECT_EQ(faces.quads[2].grey, float(double(b) * 0.2857142857142857));
    EXPECT_EQ(faces.quads[3].grey, b);

    // The side at y1 shows once the row above is lower.
    heights[4][5] = 0;
    const CellFaces more = facesOf(heights, 5, 3);
    ASSERT_EQ(more.count, 5);
    const float sideY1[4][5] = {
        {s1, t1, x1, y1, h}, {s0, t1, x0, y1, h}, {s0, t1, x0, y1, 0}, {s1, t1, x1, y1, 0}};
    EXPECT_EQ(std::memcmp(more.quads[2].vertices, sideY1, sizeof sideY1), 0);
    EXPECT_EQ(more.quads[2].grey, float(double(b) * 0.6666666666666666));
}

// ---- The scene ----

// Demo time of a moment given in local time of the first showing.
constexpr uint32_t FIRST = METABALL_FIRST_START;

// Evaluates the tracks for every 20 ms frame of the first showing before `until`, as
// the show's frames would; drawing is left out, since only the tracks carry state.
void playFirstShowingTracks(MetaballFieldScene& scene, uint32_t until) {
    for (uint32_t t = 0; t < until; t += 20) scene.tracks.evaluate(t + FIRST);
}

TEST(MetaballScene, TracksAreTheNineOfTheChoreography) {
    MetaballFieldScene scene;
    ASSERT_EQ(scene.init(), 0);
    ASSERT_EQ(scene.tracks.count(), 9u);

    const Track& corner0 = scene.tracks.track(0);
    EXPECT_EQ(corner0.start, 58880u);
    EXPECT_EQ(corner0.duration, 20000u);
    EXPECT_EQ(corner0.kind, TRACK_BYTE);
    EXPECT_EQ(corner0.byteParams.value, 0);
    EXPECT_EQ(corner0.byteParams.target, &scene.cornerVisible[0]);
    EXPECT_EQ(scene.tracks.track(3).start, 59663u);
    EXPECT_EQ(scene.tracks.track(3).byteParams.target, &scene.cornerVisible[3]);

    const Track& fade = scene.tracks.track(4);
    EXPECT_EQ(fade.kind, TRACK_SHORT);
    EXPECT_EQ(fade.start, 60151u);
    EXPECT_EQ(fade.duration, 1269u);
    EXPECT_EQ(fade.shortParams.from, 255);
    EXPECT_EQ(fade.shortParams.to, 0);
    EXPECT_EQ(fade.shortParams.target, &scene.overlayAlpha);

    const Track& rise = scene.tracks.track(6);
    EXPECT_EQ(rise.kind, TRACK_FLOAT);
    EXPECT_EQ(rise.start, 61420u);
    EXPECT_EQ(rise.duration, 3000u);
    EXPECT_EQ(rise.floatParams.easing, EASE_LINEAR);
    EXPECT_EQ(rise.floatParams.to, 2.0f);
    EXPECT_EQ(rise.floatParams.target, &scene.heightScale);

    const Track& glow = scene.tracks.track(7);
    EXPECT_EQ(glow.start, 69265u);
    EXPECT_EQ(glow.duration, 10000u);
    EXPECT_EQ(glow.byteParams.value, 1);
    EXPECT_EQ(glow.byteParams.target, &scene.glowOn);

    const Track& brightness = scene.tracks.track(8);
    EXPECT_EQ(brightness.duration, 500u);
    EXPECT_EQ(brightness.floatParams.easing, EASE_QUADRATIC);
    EXPECT_EQ(brightness.floatParams.to, 0.5f);
    EXPECT_EQ(brightness.floatParams.target, &scene.blockBrightness);
}

TEST(MetaballScene, TexturesHoldTheBuiltInImages) {
    MetaballFieldScene scene;
    ASSERT_EQ(scene.init(), 0);
    ASSERT_NE(scene.hexTexture, nullptr);
    ASSERT_NE(scene.checkerTexture, nullptr);
    EXPECT_EQ(scene.hexTexture->width(), 128);
    EXPECT_EQ(scene.hexTexture->bytesPerPixel(), 4);
    EXPECT_EQ(std::memcmp(scene.hexTexture->pixels(), hexImage, sizeof hexImage), 0);
    EXPECT_EQ(scene.checkerTexture->height(), 128);
    EXPECT_EQ(std::memcmp(scene.checkerTexture->pixels(), checkerImage, sizeof checkerImage), 0);
}

TEST(MetaballScene, CoverIsTakenAwayPieceByPiece) {
    MetaballFieldScene scene;
    ASSERT_EQ(scene.init(), 0);
    scene.tracks.evaluate(FIRST);
    EXPECT_EQ(scene.cornerVisible[0], 0);  // off from the very first frame
    EXPECT_EQ(scene.cornerVisible[1], 1);
    scene.tracks.evaluate(59182);
    EXPECT_EQ(scene.cornerVisible[1], 1);
    scene.tracks.evaluate(59183);
    EXPECT_EQ(scene.cornerVisible[1], 0);
    EXPECT_EQ(scene.cornerVisible[2], 1);
    scene.tracks.evaluate(59663);
    EXPECT_EQ(scene.cornerVisible[2], 0);
    EXPECT_EQ(scene.cornerVisible[3], 0);
    EXPECT_EQ(scene.overlayAlpha, 255);
    scene.tracks.evaluate(60151);
    EXPECT_EQ(scene.overlayAlpha, 255);
    scene.tracks.evaluate(61419);
    EXPECT_EQ(scene.overlayAlpha, 0);  // 255 - 255 x 1268 / 1269 truncated
    EXPECT_EQ(scene.overlayVisible, 1);
    EXPECT_EQ(scene.heightScale, 0.0f);
    scene.tracks.evaluate(61420);
    EXPECT_EQ(scene.overlayVisible, 0);
    EXPECT_EQ(scene.heightScale, 0.0f);
    scene.tracks.evaluate(62920);
    EXPECT_EQ(scene.heightScale, 1.0f);
    EXPECT_EQ(scene.glowOn, 0);
    scene.tracks.evaluate(69265);
    EXPECT_EQ(scene.glowOn, 1);
}

TEST(MetaballScene, ShowingsStartOnTheDemoClock) {
    MetaballFieldScene scene;
    ASSERT_EQ(scene.init(), 0);
    EXPECT_EQ(scene.startTime(1), 58880u);
    EXPECT_EQ(scene.secondShowing, 0);
    EXPECT_EQ(scene.blockBrightness, 0.0f);
    EXPECT_EQ(scene.startTime(2), 140747u);
    EXPECT_EQ(scene.secondShowing, 1);
    EXPECT_EQ(scene.blockBrightness, 0.5f);
    // Asking for the first showing again does not switch back.
    EXPECT_EQ(scene.startTime(1), 58880u);
    EXPECT_EQ(scene.secondShowing, 1);
}

class MetaballSceneRender : public RenderTest {};

TEST_F(MetaballSceneRender, FirstShowingUsesShadeBlocks) {
    MetaballFieldScene scene;
    ASSERT_EQ(scene.init(), 0);
    setTextMode(7);
    EXPECT_EQ(scene.render(0), 1);
    EXPECT_EQ(textMode(), 1);
    EXPECT_EQ(scene.cornerVisible[0], 0);
    EXPECT_EQ(renderContext.texture, scene.hexTexture.get());
    // The cover hides everything but corner 0 (bottom right on screen: the projection
    // mirrors x), gone from the first frame.
    auto white = [&](int x, int y) {
        const uint8_t* p = colorAt(x, y);
        return p[0] == 255 && p[1] == 255 && p[2] == 255;
    };
    EXPECT_TRUE(white(2, 2));
    EXPECT_TRUE(white(157, 2));
    EXPECT_TRUE(white(2, 97));
    EXPECT_TRUE(white(80, 50));
    EXPECT_FALSE(white(157, 97));
    EXPECT_FALSE(white(130, 80));
    // The state the scene leaves behind: no depth test, no texturing, no blending.
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 0);
    EXPECT_EQ(sglIsEnabled(SGL_TEXTURE), 0);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
}

TEST_F(MetaballSceneRender, SecondShowingKeepsTheLastValuesOfTheFirst) {
    MetaballFieldScene scene;
    ASSERT_EQ(scene.init(), 0);
    playFirstShowingTracks(scene, 79354 - FIRST);
    // The last frame inside the rise is demo 64400: 2 x 2980 / 3000.
    EXPECT_EQ(scene.heightScale, float(2.0 * 2980 / 3000));
    EXPECT_EQ(scene.glowOn, 1);

    EXPECT_EQ(scene.startTime(2), 140747u);
    // Local 10400 would be demo 69280 in the first showing, inside the brightness track.
    EXPECT_EQ(scene.render(10400), 0);
    EXPECT_EQ(textMode(), 0);
    EXPECT_EQ(scene.blockBrightness, 0.5f);
    EXPECT_LT(scene.heightScale, 2.0f);
    EXPECT_GT(scene.heightScale, 1.98f);
    EXPECT_EQ(renderContext.texture, scene.checkerTexture.get());
    // Add-mode shading stays on: the texture environment is left in add mode.
    EXPECT_EQ(renderContext.texEnvMode, SGL_ADD);
    EXPECT_EQ(sglIsEnabled(SGL_SMOOTH), 0);
    EXPECT_EQ(sglIsEnabled(SGL_TEXTURE_ENV), 0);
}

// ---- Whole frames against reviewed reference images ----

// Renders the frame of local time `local` of a showing after the frames before it
// (their tracks) and compares it byte for byte with tests/reference/<name>.png. On a
// mismatch the produced image and a difference image go into build/test-output/.
// VORNAK_UPDATE_REFERENCES=1 rewrites the reference instead.
class MetaballReference : public RenderTest {
  protected:
    void expectFrame(const std::string& name, int showing, uint32_t local) {
        MetaballFieldScene scene;
        ASSERT_EQ(scene.init(), 0);
        if (showing == 1) {
            playFirstShowingTracks(scene, local);
        } else {
            playFirstShowingTracks(scene, 79354 - FIRST);
            scene.startTime(2);
        }
        scene.render(local);

        EXPECT_TRUE(matchesReferenceImage(color, name));
    }
};

TEST_F(MetaballReference, CoverFadingOverTheFlatRelief) {
    expectFrame("metaball_60500", 1, 60500 - FIRST);
}

TEST_F(MetaballReference, ReliefWithAddShading) {
    expectFrame("metaball_72000", 1, 72000 - FIRST);
}

TEST_F(MetaballReference, QuantisedColumns) {
    expectFrame("metaball_150000", 2, 150000 - METABALL_SECOND_START);
}

}  // namespace
