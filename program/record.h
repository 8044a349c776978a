// Recording the show as a video file with its music: the whole show (or a stretch
// of it) run on the virtual clock like the other offline runs, every frame's
// console look encoded at 50 frames per second, the music sample-aligned beside it.
// The pieces: program/music_reader.h, pending_file.h, stop_signals.h,
// record_progress.h, pixel_scaling.h and video_encoder.h.
#pragma once

#include <cstdint>
#include <string>

#include "program/options.h"
#include "program/video_encoder.h"

constexpr uint32_t RECORD_MAX_SCALE = 8;

// The demo times recorded for --from/--to: every frame time T (a multiple of 20 ms,
// at most the last frame of the show) with from <= T < to. False when there is none.
bool recordStretch(uint32_t from, uint32_t to, uint32_t& firstTime, uint32_t& lastTime);

// The index of the sound frame that plays at demo time `ms` at `rate` frames per second.
uint64_t soundFrameAt(uint32_t ms, int rate);

// Records the show as `options` ask (recordFile, recordScale, recordFrom, recordTo,
// noSound). Returns the exit status: 0 when FILE is complete, 1 when it could not be
// made (nothing left behind). An interrupting signal ends the process by that
// signal, after removing the unfinished file.
int runRecordMode(const Options& options);
