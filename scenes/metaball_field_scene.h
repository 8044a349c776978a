// The metaball relief: three moving metaballs raise a textured height field that
// rocks in perspective. Shown twice: first as a smooth hex-textured mesh that
// opens under a white cover, later as quantised checker-textured columns.
#pragma once

#include <cstdint>
#include <memory>

#include "image/surface.h"
#include "render/matrix.h"
#include "scenekit/extended80.h"
#include "scenekit/scene.h"
#include "scenekit/track_list.h"

constexpr uint32_t METABALL_FIRST_START = 58880;
constexpr uint32_t METABALL_SECOND_START = 140747;

// The smooth mesh samples the plane every 5 units; the block field in cells of 13 by 11.
constexpr int SMOOTH_COLUMNS = 32;
constexpr int SMOOTH_ROWS = 20;
constexpr int BLOCK_COLUMNS = 15;
constexpr int BLOCK_ROWS = 9;

// Sum of the three blobs' falloffs turned into a height in [0, 255): near 254.7 at a
// blob's centre, 0 wherever 1/S reaches 255. Computed in x87 extended precision, the
// same on every platform.
Extended80 metaballField(const Vec3 blobs[3], Extended80 x, Extended80 y);

// Moves the blob centres to where they are `time` ms into a showing.
void placeBlobs(uint32_t time, Vec3 blobs[3]);

// The 32x20 mesh vertices (x, y, z) of the smooth relief.
void sampleSmoothGrid(const Vec3 blobs[3], float grid[SMOOTH_ROWS][SMOOTH_COLUMNS][3]);

// A column height: the field truncated and rounded down to a multiple of 50 (0..250).
int blockLevel(Extended80 field);
// The 15x9 column heights, each a level divided by 255.
void sampleBlockHeights(const Vec3 blobs[3], float heights[BLOCK_ROWS][BLOCK_COLUMNS]);

// One quad of a block column as it is sent: a grey level, then four vertices of
// texture coordinate (s, t) and position (x, y, z).
struct BlockQuad {
    float grey;
    float vertices[4][5];
};
// The top face of cell (i, j) and the side faces that look down onto a lower
// neighbour (outside the grid the ground, height 0); answers how many were written.
int blockCellQuads(const float heights[BLOCK_ROWS][BLOCK_COLUMNS], int i, int j, float brightness,
                   BlockQuad quads[5]);

class MetaballFieldScene : public Scene {
  public:
    MetaballFieldScene() = default;
    ~MetaballFieldScene() override;
    MetaballFieldScene(const MetaballFieldScene&) = delete;
    MetaballFieldScene& operator=(const MetaballFieldScene&) = delete;

    int init() override;
    uint32_t startTime(uint8_t which) override;
    uint8_t render(uint32_t time) override;
    void reserved() override {}
    void keepState(StateRecord& record) override;

    // 128x128 textures made by init; the scene lives for the whole show.
    std::unique_ptr<Surface> checkerTexture;
    std::unique_ptr<Surface> hexTexture;
    Vec3 blobs[3];
    TrackList tracks;
    float blockBrightness = 0.0f;
    uint8_t cornerVisible[4] = {1, 1, 1, 1};
    uint8_t overlayVisible = 1;
    uint8_t glowOn = 0;
    uint8_t secondShowing = 0;
    int16_t overlayAlpha = 255;  // only the low byte is used
    float heightScale = 0.0f;

  private:
    void drawSmoothField();
    void drawBlockField();
    void drawCover();
};
