#include "show/timeline.h"

#include "scenes/cube_stream_scene.h"
#include "scenes/glow_trail_scene.h"
#include "scenes/metaball_field_scene.h"
#include "scenes/noise_text_scene.h"
#include "scenes/ray_sphere_scene.h"
#include "scenes/replay_scene.h"

const Showing SHOW_SHOWINGS[SHOW_SHOWING_COUNT] = {
    {0, 1, "crosses of light"},
    {RAY_SPHERE_START, 2, "ray-traced sphere"},
    {METABALL_FIRST_START, 3, "metaball field"},
    {CUBE_SCENE_START, 4, "cube stream"},
    {GLOW_SCENE_START, 5, "glow trails"},
    {REPLAY_SCENE_START, 6, "replay"},
    {METABALL_SECOND_START, 3, "metaball columns"},
    {NOISE_TEXT_SCENE_START, 7, "noise and text"},
};

int showingAt(uint32_t t) {
    int showing = 0;
    while (showing + 1 < SHOW_SHOWING_COUNT && t >= SHOW_SHOWINGS[showing + 1].start) ++showing;
    return showing;
}

uint32_t sceneStart(int scene) {
    for (const Showing& showing : SHOW_SHOWINGS)
        if (showing.scene == scene) return showing.start;
    return 0;
}
