// Keyframe tracks: a scene's list of timed writes to its own variables (floats,
// flags and 16-bit values, eased linearly or quadratically), evaluated in
// insertion order at demo time every frame.
#pragma once

#include <cstdint>

constexpr uint32_t TRACK_CAPACITY = 1024;

constexpr uint8_t EASE_LINEAR = 0;
constexpr uint8_t EASE_QUADRATIC = 1;

constexpr uint8_t TRACK_FLOAT = 1;
constexpr uint8_t TRACK_BYTE = 2;
constexpr uint8_t TRACK_SHORT = 3;

struct FloatTrackParams {
    uint8_t easing;
    float from;
    float to;
    float* target;
};

struct ByteTrackParams {
    uint8_t value;
    uint8_t* target;
};

struct ShortTrackParams {
    uint8_t easing;
    uint16_t from;
    uint16_t to;
    int16_t* target;
};

struct Track {
    uint32_t start;
    uint32_t duration;  // acts while start <= t < start + duration (32-bit sum)
    uint8_t kind;       // TRACK_FLOAT, TRACK_BYTE or TRACK_SHORT
    // The parameter block of the kind, held in place rather than on the heap.
    union {
        FloatTrackParams floatParams;
        ByteTrackParams byteParams;
        ShortTrackParams shortParams;
    };
};

class TrackList {
  public:
    TrackList() = default;
    TrackList(const TrackList&) = delete;
    TrackList& operator=(const TrackList&) = delete;

    // Each add appends one track; additions beyond TRACK_CAPACITY are dropped.
    void addFloat(uint32_t start, uint32_t duration, uint8_t easing, float from, float to,
                  float* target);
    void addFloatRange(uint32_t start, uint32_t end, uint8_t easing, float from, float to,
                       float* target);
    void addByte(uint32_t start, uint32_t duration, uint8_t value, uint8_t* target);
    void addByteRange(uint32_t start, uint32_t end, uint8_t value, uint8_t* target);
    void addShort(uint32_t start, uint32_t duration, uint8_t easing, uint16_t from, uint16_t to,
                  int16_t* target);
    void addShortRange(uint32_t start, uint32_t end, uint8_t easing, uint16_t from, uint16_t to,
                       int16_t* target);

    // Every track whose window holds t writes its target; the last one added wins.
    void evaluate(uint32_t t) const;

    uint32_t count() const { return count_; }
    const Track& track(uint32_t index) const { return tracks_[index]; }

  private:
    Track* append(uint32_t start, uint32_t duration, uint8_t kind);

    Track tracks_[TRACK_CAPACITY];
    uint32_t count_ = 0;
};
