// A scene's choreography written as a table: each row becomes one track of the
// scene's TrackList, in table order (which decides who wins when windows
// overlap). The scene names its own targets with small numbers and says where
// each one lives.
#pragma once

#include <cstdint>
#include <span>

#include "scenekit/track_list.h"

enum TrackRowKind : uint8_t {
    ROW_FLAG,         // a byte set to `from` while the window lasts
    ROW_FADE,         // a 16-bit value eased from `from` to `to` over `length` ms
    ROW_FADE_TO_END,  // the same, the window ending at `length` (demo time)
    ROW_FLOAT,        // a float eased from `from` to `to` over `length` ms
};

struct TrackRow {
    TrackRowKind kind;
    uint32_t start;
    uint32_t length;  // the duration; the end for ROW_FADE_TO_END
    uint8_t easing;   // EASE_LINEAR or EASE_QUADRATIC; flags ignore it
    float from;       // whole numbers for flags and 16-bit values
    float to;
    uint8_t target;  // the scene's name for what the row writes
    uint8_t index;   // which one of that target (a caption, a line)
};

// Where one row writes; the pointer that matches the row's kind must be set.
struct TrackRowTarget {
    uint8_t* flag = nullptr;
    int16_t* value16 = nullptr;
    float* value = nullptr;
};

// The tracks write 16-bit values through a signed pointer; the alias is allowed
// between the signed and unsigned forms of a type.
inline int16_t* asTrackShort(uint16_t* value) {
    return reinterpret_cast<int16_t*>(value);
}

// Appends one track per row; `where(target, index)` answers a TrackRowTarget.
template <class Where>
void addTrackRows(TrackList& tracks, std::span<const TrackRow> rows, Where where) {
    for (const TrackRow& row : rows) {
        const TrackRowTarget at = where(row.target, row.index);
        switch (row.kind) {
            case ROW_FLAG:
                tracks.addByte(row.start, row.length, uint8_t(row.from), at.flag);
                break;
            case ROW_FADE:
                tracks.addShort(row.start, row.length, row.easing, uint16_t(row.from),
                                uint16_t(row.to), at.value16);
                break;
            case ROW_FADE_TO_END:
                tracks.addShortRange(row.start, row.length, row.easing, uint16_t(row.from),
                                     uint16_t(row.to), at.value16);
                break;
            case ROW_FLOAT:
                tracks.addFloat(row.start, row.length, row.easing, row.from, row.to, at.value);
                break;
        }
    }
}
