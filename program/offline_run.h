// Offline runs of the whole show: no terminal, no sound, no real waiting. The
// show runs from demo time 0 on a virtual clock, one frame every 20 ms, exactly
// as it would in a terminal (program/offline_frames.h), and these runs take its
// frames one by one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/surface.h"

// The console look of 4-byte cells written as a PNG file. False on any failure.
bool writeConsoleLookPng(const Surface& cells, const std::string& path);
// A colour buffer written as an opaque PNG file. False on any failure.
bool writeOpaquePng(const Surface& color, const std::string& path);

// Writes DIR/T.png (the console look, 640x600), DIR/T-rgb.png (the 160x100
// colour buffer, opaque) and the cells as DIR/T.ans (ANSI art), DIR/T.txt and
// DIR/T.html for each demo time T, from the last frame at or before T, each
// file under a temporary name until complete; stops after the last moment.
// Returns the process exit status (offline_run_render.cpp).
int runRenderMode(const std::string& directory, const std::vector<uint32_t>& times);

// Prints "demo time, text mode, hash of the 80x50 cells" for every frame and a
// last line with one hash over all frames. Returns the process exit status.
int runDigest(std::FILE* out);

// Says why the show did not start, from the lines it wrote.
void reportOfflineStartFailure(const std::string& startupText);

// FNV-1a over bytes, continuing from `hash`.
uint64_t hashBytes(const uint8_t* bytes, size_t count, uint64_t hash = 0xcbf29ce484222325ull);
