// Frame times of one scene over a showing, render only: every frame 20 ms of
// scene time apart, drawn into the show's own FrameBuffer (a muted Demo with the
// real scenes and caption lines). The counters give, in µs, the mean and worst
// frame by the wall clock, by the thread's processor time (which other work on
// a busy machine does not inflate) and by each frame's best run over the rounds.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>

#include "show/demo.h"

// The Demo the scene benchmarks draw with, initialised once.
Demo& benchmarkDemo();

// Renders local times offset + 0, 20, ... below offset + length on the scene that
// `sceneForRound` returns at the start of each round (where a benchmark resets
// what a showing changes).
void timeSceneFrames(benchmark::State& state, uint32_t length, uint32_t offset,
                     const std::function<Scene&()>& sceneForRound);
