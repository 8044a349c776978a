#include "scenes/metaball_field_scene.h"

#include <cmath>
#include <cstring>

#include "data/images.h"
#include "render/sgl.h"
#include "scenekit/scene_view.h"
#include "textmode/text_mode.h"

namespace {

// Degrees to radians with the rounded 3.1415 / 180 the motion was tuned with.
constexpr double MOTION_DEGREES = 0.01745277777777778;

// A slow swing in [-1, 1]: the sine of t / period degrees. The periods are kept as
// reciprocals, so t / period is a multiplication.
double swing(double t, double inversePeriod) {
    return std::sin(t * inversePeriod * MOTION_DEGREES);
}

// Each blob circles the middle of the 160x100 plane on two swings of its own.
struct BlobPath {
    double inverseXPeriod;
    double inverseYPeriod;
};
constexpr BlobPath BLOB_PATHS[3] = {
    {1.0 / 32.76, 1.0 / 23.76},
    {1.0 / 42.76, 1.0 / 13.76},
    {1.0 / 28.76, 1.0 / 35.76},
};
constexpr double BLOB_REACH = 30.0;
constexpr double PLANE_CENTRE_X = 80.0;
constexpr double PLANE_CENTRE_Y = 50.0;

// The rocking of the whole relief: amplitude in degrees and period.
constexpr double ROCK_Y_DEGREES = 34.0;
constexpr double ROCK_Y_INVERSE_PERIOD = 1.0 / 32.23;
constexpr double ROCK_X_DEGREES = 45.0;
constexpr double ROCK_X_INVERSE_PERIOD = 1.0 / 23.23;

// The quad corners in sending order, as offsets in the grid.
constexpr int QUAD_CORNERS[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

// A corner of a column face: which edge in x and in y (0 the low one, 1 the high
// one, for both texture and position) and whether it sits at the neighbour's height.
struct FaceCorner {
    uint8_t highX;
    uint8_t highY;
    uint8_t atNeighbour;
};
// The face looks towards the neighbour at (i + di, j + dj); the top has none.
struct BlockFace {
    int8_t di;
    int8_t dj;
    double grey;  // share of the column brightness
    FaceCorner corners[4];
};
// clang-format off
constexpr BlockFace BLOCK_FACES[5] = {
    //  di  dj  grey                 corners (highX, highY, atNeighbour)
    {  0,  0, 0.5,                {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},  // top
    {  0, -1, 0.3333333333333333, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}},  // side at y0
    {  0,  1, 0.6666666666666666, {{1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 1, 1}}},  // side at y1
    { -1,  0, 0.2857142857142857, {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}},  // side at x0
    {  1,  0, 1.0,                {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}},  // side at x1
};

// Black ground around the unit square, so the relief never ends in the void.
constexpr float BORDER_QUADS[4][4][2] = {
    {{-1, -3}, { 1, -3}, { 1, -1}, {-1, -1}},
    {{-3, -1}, {-1, -1}, {-1,  1}, {-3,  1}},
    {{-1,  1}, { 1,  1}, { 1,  3}, {-1,  3}},
    {{ 1, -1}, { 3, -1}, { 3,  1}, { 1,  1}},
};
constexpr float BORDER_TEXCOORDS[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

// The opening cover: four white corner triangles around a white diamond that
// together fill the view at the near plane.
constexpr float COVER_CORNERS[4][3][2] = {
    {{-1, -0.8f}, { 0, -0.8f}, {-1,  0   }},
    {{ 0, -0.8f}, { 1, -0.8f}, { 1,  0   }},
    {{ 1,  0   }, { 1,  0.8f}, { 0,  0.8f}},
    {{ 0,  0.8f}, {-1,  0.8f}, {-1,  0   }},
};
constexpr float COVER_DIAMOND[4][2] = {{0, -0.8f}, {1, 0}, {0, 0.8f}, {-1, 0}};
// clang-format on

void drawBorderQuads() {
    sglColor3f(0, 0, 0);
    for (const auto& quad : BORDER_QUADS) {
        for (int v = 0; v < 4; ++v) {
            sglTexCoord2fv(BORDER_TEXCOORDS[v]);
            sglVertex3f(quad[v][0], quad[v][1], 0);
        }
    }
}

int makeTexture(std::unique_ptr<Surface>& texture, const uint8_t* image, Size16 size) {
    texture = std::make_unique<Surface>();
    const int result = texture->create(size, 4);
    if (result != 0) return result;
    std::memcpy(texture->pixels(), image, size_t(size.width) * size_t(size.height) * 4);
    return 0;
}

}  // namespace

Extended80 metaballField(const Vec3 blobs[3], Extended80 x, Extended80 y) {
    const Extended80 one = 1;
    Extended80 sum = 0;
    for (int k = 0; k < 3; ++k) {
        const Extended80 dx = Extended80(blobs[k].x) - x;
        const Extended80 dy = Extended80(blobs[k].y) - y;
        sum += Extended80(3) / (dx * dx + dy * dy + one);
    }
    const Extended80 inverse = one / sum;
    const Extended80 top = 255;
    return inverse < top ? top - inverse : Extended80(0);
}

void placeBlobs(uint32_t time, Vec3 blobs[3]) {
    const double t = time;
    for (int k = 0; k < 3; ++k) {
        blobs[k].x = float(BLOB_REACH * swing(t, BLOB_PATHS[k].inverseXPeriod) + PLANE_CENTRE_X);
        blobs[k].y = float(BLOB_REACH * swing(t, BLOB_PATHS[k].inverseYPeriod) + PLANE_CENTRE_Y);
    }
}

void sampleSmoothGrid(const Vec3 blobs[3], float grid[SMOOTH_ROWS][SMOOTH_COLUMNS][3]) {
    for (int j = 0; j < SMOOTH_ROWS; ++j) {
        for (int i = 0; i < SMOOTH_COLUMNS; ++i) {
            grid[j][i][0] = float((i - 16) * 0.0625);
            grid[j][i][1] = float((j - 10) * 0.1);
            grid[j][i][2] =
                (metaballField(blobs, 5 * i, 5 * j) * Extended80(0.00392156862745098)).toFloat();
        }
    }
}

int blockLevel(Extended80 field) {
    const auto q = int16_t(field.truncateToInt());
    return q / 50 * 50;
}

void sampleBlockHeights(const Vec3 blobs[3], float heights[BLOCK_ROWS][BLOCK_COLUMNS]) {
    for (int j = 0; j < BLOCK_ROWS; ++j)
        for (int i = 0; i < BLOCK_COLUMNS; ++i)
            heights[j][i] = float(blockLevel(metaballField(blobs, 13 * i, 11 * j))) / 255.0f;
}

int blockCellQuads(const float heights[BLOCK_ROWS][BLOCK_COLUMNS], int i, int j, float brightness,
                   BlockQuad quads[5]) {
    const float xs[2] = {float(i) * 0.1333f - 1.0f, float(i + 1) * 0.1333f - 1.0f};
    const float ys[2] = {float(j) * 0.2222f - 1.0f, float(j + 1) * 0.2222f - 1.0f};
    const float ss[2] = {float(i * 0.0625), float((i + 1) * 0.0625)};
    const float ts[2] = {float(j * 0.1), float((j + 1) * 0.1)};
    const float h = heights[j][i];
    const float b = brightness * h * 3;

    int count = 0;
    for (const BlockFace& face : BLOCK_FACES) {
        float n = 0.0f;
        if (face.di != 0 || face.dj != 0) {
            const int ni = i + face.di;
            const int nj = j + face.dj;
            const bool inside = ni >= 0 && ni < BLOCK_COLUMNS && nj >= 0 && nj < BLOCK_ROWS;
            n = inside ? heights[nj][ni] : 0.0f;
            if (!(n < h)) continue;
        }
        BlockQuad& quad = quads[count++];
        quad.grey = float(b * face.grey);
        for (int v = 0; v < 4; ++v) {
            const FaceCorner& c = face.corners[v];
            float* out = quad.vertices[v];
            out[0] = ss[c.highX];
            out[1] = ts[c.highY];
            out[2] = xs[c.highX];
            out[3] = ys[c.highY];
            out[4] = c.atNeighbour ? n : h;
        }
    }
    return count;
}

MetaballFieldScene::~MetaballFieldScene() {
    if (hexTexture) hexTexture->release();
    if (checkerTexture) checkerTexture->release();
}

int MetaballFieldScene::init() {
    int result = makeTexture(hexTexture, hexImage, {HEX_IMAGE_WIDTH, HEX_IMAGE_HEIGHT});
    if (result != 0) return result;
    result = makeTexture(checkerTexture, checkerImage, {CHECKER_IMAGE_WIDTH, CHECKER_IMAGE_HEIGHT});
    if (result != 0) return result;

    // clang-format off
    tracks.addByte      (58880, 20000,               0,            &cornerVisible[0]);
    tracks.addByte      (59183, 20000,               0,            &cornerVisible[1]);
    tracks.addByte      (59350, 20000,               0,            &cornerVisible[2]);
    tracks.addByte      (59663, 20000,               0,            &cornerVisible[3]);
    tracks.addShortRange(60151, 61420, EASE_LINEAR,    255,  0,    &overlayAlpha);
    tracks.addByte      (61420, 20000,               0,            &overlayVisible);
    tracks.addFloatRange(61420, 64420, EASE_LINEAR,    0.0f, 2.0f, &heightScale);
    tracks.addByte      (69265, 10000,               1,            &glowOn);
    tracks.addFloat     (69265,   500, EASE_QUADRATIC, 0.0f, 0.5f, &blockBrightness);
    // clang-format on
    return 0;
}

uint32_t MetaballFieldScene::startTime(uint8_t which) {
    if (which == 1) return METABALL_FIRST_START;
    // Asked from the scene before the second showing on: switch to the columns for good.
    secondShowing = 1;
    blockBrightness = 0.5f;
    return METABALL_SECOND_START;
}

uint8_t MetaballFieldScene::render(uint32_t time) {
    // The tracks only choreograph the first showing; the second keeps their last values.
    if (secondShowing == 0) tracks.evaluate(time + METABALL_FIRST_START);

    beginSceneView();
    sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER);

    placeBlobs(time, blobs);
    sglBindTexture(secondShowing == 1 ? checkerTexture.get() : hexTexture.get());

    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    sglDepthMask(1);
    sglEnable(SGL_TEXTURE);
    if (glowOn == 1) {
        sglEnable(SGL_SMOOTH);
        sglEnable(SGL_TEXTURE_ENV);
        sglTexEnvMode(SGL_ADD);
    }

    const double t = time;
    sglTranslatef(0, 0, 4.5f);
    sglRotateYf(float(ROCK_Y_DEGREES * swing(t, ROCK_Y_INVERSE_PERIOD)));
    sglRotateXf(float(ROCK_X_DEGREES * swing(t, ROCK_X_INVERSE_PERIOD)));
    sglScalef(4, 4, -heightScale);

    if (secondShowing == 1)
        drawBlockField();
    else
        drawSmoothField();

    if (glowOn == 1) {
        sglDisable(SGL_TEXTURE_ENV);
        sglDisable(SGL_SMOOTH);
    }
    sglDisable(SGL_DEPTH_TEST);
    sglDisable(SGL_TEXTURE);

    if (secondShowing == 0 && overlayVisible == 1) drawCover();

    const uint8_t mode = secondShowing == 1 ? 0 : 1;
    setTextMode(mode);
    return mode;
}

void MetaballFieldScene::drawSmoothField() {
    float grid[SMOOTH_ROWS][SMOOTH_COLUMNS][3];
    sampleSmoothGrid(blobs, grid);

    sglBegin(SGL_QUADS);
    for (int j = 0; j < SMOOTH_ROWS - 1; ++j) {
        for (int i = 0; i < SMOOTH_COLUMNS - 1; ++i) {
            for (const auto& corner : QUAD_CORNERS) {
                const int vi = i + corner[0];
                const int vj = j + corner[1];
                const float* vertex = grid[vj][vi];
                const float grey = 0.5f * vertex[2];
                sglColor3f(grey, grey, grey);
                sglTexCoord2f(float(vi * 0.03125), float(vj * 0.05));
                sglVertex3fv(vertex);
            }
        }
    }
    drawBorderQuads();
    sglEnd();
}

void MetaballFieldScene::drawBlockField() {
    float heights[BLOCK_ROWS][BLOCK_COLUMNS];
    sampleBlockHeights(blobs, heights);

    sglBegin(SGL_QUADS);
    for (int j = 0; j < BLOCK_ROWS; ++j) {
        for (int i = 0; i < BLOCK_COLUMNS; ++i) {
            BlockQuad quads[5];
            const int count = blockCellQuads(heights, i, j, blockBrightness, quads);
            for (int q = 0; q < count; ++q) {
                sglColor3f(quads[q].grey, quads[q].grey, quads[q].grey);
                for (const float* v : quads[q].vertices) {
                    sglTexCoord2f(v[0], v[1]);
                    sglVertex3f(v[2], v[3], v[4]);
                }
            }
        }
    }
    drawBorderQuads();
    sglEnd();
}

void MetaballFieldScene::drawCover() {
    sglLoadIdentity();
    sglBegin(SGL_TRIANGLES);
    sglColor3ub(255, 255, 255);
    for (int k = 0; k < 4; ++k) {
        if (cornerVisible[k] != 1) continue;
        for (const auto& corner : COVER_CORNERS[k]) sglVertex2f(corner[0], corner[1]);
    }
    sglEnd();

    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    sglBegin(SGL_QUADS);
    sglColor4ub(255, 255, 255, uint8_t(overlayAlpha & 0xFF));
    for (const auto& corner : COVER_DIAMOND) sglVertex2f(corner[0], corner[1]);
    sglEnd();
    sglDisable(SGL_BLEND);
}

void MetaballFieldScene::keepState(StateRecord& record) {
    record.keep(blobs);
    record.keep(blockBrightness);
    record.keep(cornerVisible);
    record.keep(overlayVisible);
    record.keep(glowOn);
    record.keep(secondShowing);
    record.keep(overlayAlpha);
    record.keep(heightScale);
}
