// The show's timeline as a viewer sees it: the showings of its seven scenes in
// order (the metaball scene comes twice), with the names a player shows.
#pragma once

#include <cstdint>

#include "show/demo.h"

constexpr int SHOW_SCENE_COUNT = 7;
constexpr int SHOW_SHOWING_COUNT = 8;

struct Showing {
    uint32_t start;  // demo time (ms)
    uint8_t scene;   // 1..SHOW_SCENE_COUNT, by first appearance
    const char* name;
};

extern const Showing SHOW_SHOWINGS[SHOW_SHOWING_COUNT];

// The showing on screen at demo time t.
int showingAt(uint32_t t);
// Where scene 1..SHOW_SCENE_COUNT is first shown.
uint32_t sceneStart(int scene);
