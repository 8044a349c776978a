#include "scenekit/track_list.h"

#include <cmath>

namespace {

// Truncation toward zero into the low 16 bits of a 16-bit variable. Values out of
// the 32-bit range (never produced by the show's tracks) give what a truncating
// x86 conversion gives, the most negative integer, whose low 16 bits are 0.
int16_t truncateToShort(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return 0;
    const int32_t whole = static_cast<int32_t>(value);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(whole)));
}

// Quadratic easing factor (d x d) / (duration x duration). d x d wraps as an
// unsigned 32-bit product; duration x duration is formed in unsigned 64 bits,
// which holds the square of every 32-bit duration (a signed product overflows
// above 3037000499 ms). Below that both give the same double.
double quadraticFactor(uint32_t d, uint32_t duration) {
    const uint32_t dSquared = d * d;
    const uint64_t durationSquared = uint64_t{duration} * uint64_t{duration};
    return double(dSquared) / double(durationSquared);
}

}  // namespace

Track* TrackList::append(uint32_t start, uint32_t duration, uint8_t kind) {
    if (count_ >= TRACK_CAPACITY) return nullptr;
    Track& track = tracks_[count_++];
    track.start = start;
    track.duration = duration;
    track.kind = kind;
    return &track;
}

void TrackList::addFloat(uint32_t start, uint32_t duration, uint8_t easing, float from, float to,
                         float* target) {
    if (Track* track = append(start, duration, TRACK_FLOAT))
        track->floatParams = FloatTrackParams{easing, from, to, target};
}

void TrackList::addFloatRange(uint32_t start, uint32_t end, uint8_t easing, float from, float to,
                              float* target) {
    addFloat(start, end - start, easing, from, to, target);
}

void TrackList::addByte(uint32_t start, uint32_t duration, uint8_t value, uint8_t* target) {
    if (Track* track = append(start, duration, TRACK_BYTE))
        track->byteParams = ByteTrackParams{value, target};
}

void TrackList::addByteRange(uint32_t start, uint32_t end, uint8_t value, uint8_t* target) {
    addByte(start, end - start, value, target);
}

void TrackList::addShort(uint32_t start, uint32_t duration, uint8_t easing, uint16_t from,
                         uint16_t to, int16_t* target) {
    if (Track* track = append(start, duration, TRACK_SHORT))
        track->shortParams = ShortTrackParams{easing, from, to, target};
}

void TrackList::addShortRange(uint32_t start, uint32_t end, uint8_t easing, uint16_t from,
                              uint16_t to, int16_t* target) {
    addShort(start, end - start, easing, from, to, target);
}

void TrackList::evaluate(uint32_t t) const {
    for (uint32_t i = 0; i < count_; ++i) {
        const Track& track = tracks_[i];
        if (!(track.start <= t && t < track.start + track.duration)) continue;
        const uint32_t d = t - track.start;
        switch (track.kind) {
            case TRACK_FLOAT: {
                const FloatTrackParams& p = track.floatParams;
                const float span = p.to - p.from;  // a float difference, then double
                if (p.easing == EASE_LINEAR) {
                    *p.target =
                        float(double(p.from) + double(span) * double(d) / double(track.duration));
                } else if (p.easing == EASE_QUADRATIC) {
                    *p.target =
                        float(double(p.from) + quadraticFactor(d, track.duration) * double(span));
                }
                break;
            }
            case TRACK_BYTE:
                *track.byteParams.target = track.byteParams.value;
                break;
            case TRACK_SHORT: {
                const ShortTrackParams& p = track.shortParams;
                const int32_t span = int32_t{p.to} - int32_t{p.from};
                if (p.easing == EASE_LINEAR) {
                    *p.target = truncateToShort(double(span) * double(d) / double(track.duration) +
                                                double(p.from));
                } else if (p.easing == EASE_QUADRATIC) {
                    *p.target = truncateToShort(quadraticFactor(d, track.duration) * double(span) +
                                                double(p.from));
                }
                break;
            }
            default:
                break;
        }
    }
}
