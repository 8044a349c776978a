// The soundtrack's instruments, effects and score. The per-sample work uses
// our own sine table and noise generator; the maths library only sets
// coefficients (exp, tan, pow). Built without fused multiply-adds, g++ and
// clang give the same samples, and so the same file.
#include "tools/soundtrack/synth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "tools/soundtrack/cues.h"

namespace {

constexpr double RATE = SOUNDTRACK_RATE;
constexpr double PI = 3.141592653589793;
constexpr size_t STEP = SOUNDTRACK_STEP_FRAMES;
constexpr size_t BAR = 16 * STEP;

// ---------------------------------------------------------------------------
// Oscillator and noise sources

// Sine by series, for the table only: independent of the maths library.
double seriesSine(double x) {
    while (x > PI) x -= 2 * PI;
    while (x < -PI) x += 2 * PI;
    double term = x;
    double sum = x;
    for (int n = 1; n < 30; ++n) {
        term = -term * x * x / ((2.0 * n) * (2.0 * n + 1));
        sum += term;
    }
    return sum;
}

constexpr int SINE_SIZE = 4096;

struct SineTable {
    std::array<float, SINE_SIZE + 1> value;
    SineTable() {
        for (int i = 0; i <= SINE_SIZE; ++i)
            value[i] = static_cast<float>(seriesSine(2 * PI * i / SINE_SIZE));
    }
};

const SineTable SINE;

// Sine of a phase in cycles, any value.
float sine(double cycles) {
    const double p = (cycles - std::floor(cycles)) * SINE_SIZE;
    const int i = static_cast<int>(p);
    const float f = static_cast<float>(p - i);
    return SINE.value[i] + (SINE.value[i + 1] - SINE.value[i]) * f;
}

// Phase accumulator in cycles, kept in [0, 1).
struct Phase {
    double value = 0;
    double advance(double hz) {
        const double now = value;
        value += hz / RATE;
        value -= std::floor(value);
        return now;
    }
};

// Band-limited sawtooth (polyBLEP), -1..1.
struct Saw {
    double phase = 0;
    float next(double hz) {
        const double dt = hz / RATE;
        double t = phase;
        double v = 2 * t - 1;
        if (t < dt) {
            t /= dt;
            v -= t + t - t * t - 1;
        } else if (t > 1 - dt) {
            t = (t - 1) / dt;
            v -= t * t + t + t + 1;
        }
        phase += dt;
        phase -= std::floor(phase);
        return static_cast<float>(v);
    }
};

struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed * 2654435761u | 1u) {}
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f);
    }
};

double noteHz(double note) {
    return 440.0 * std::exp2((note - 69) / 12);
}

// Per-frame factor of an exponential decay with time constant seconds.
float decayFactor(double seconds) {
    return static_cast<float>(std::exp(-1 / (seconds * RATE)));
}

// ---------------------------------------------------------------------------
// Filters

// State-variable filter (trapezoidal), low, band and high pass at once.
struct Svf {
    float a1 = 0, a2 = 0, a3 = 0, k = 1;
    float ic1 = 0, ic2 = 0;
    float low = 0, band = 0, high = 0;
    void tune(double hz, double q) {
        hz = std::clamp(hz, 20.0, RATE * 0.45);
        const double g = std::tan(PI * hz / RATE);
        k = static_cast<float>(1 / q);
        const double d = 1 / (1 + g * (g + k));
        a1 = static_cast<float>(d);
        a2 = static_cast<float>(g * d);
        a3 = static_cast<float>(g * g * d);
    }
    void run(float in) {
        const float v3 = in - ic2;
        const float v1 = a1 * ic1 + a2 * v3;
        const float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = in - k * v1 - v2;
    }
};

struct OnePoleHighPass {
    float coefficient = 0, lastIn = 0, out = 0;
    explicit OnePoleHighPass(double hz)
        : coefficient(static_cast<float>(1 / (1 + 2 * PI * hz / RATE))) {}
    float run(float in) {
        out = coefficient * (out + in - lastIn);
        lastIn = in;
        return out;
    }
};

// ---------------------------------------------------------------------------
// The mix: a dry stereo bus and two mono sends (echo, reverb).

struct Mix {
    size_t frames;
    std::vector<float> left, right, echo, reverb;
    explicit Mix(size_t n) : frames(n), left(n), right(n), echo(n), reverb(n) {}
};

// Where a voice writes: pan gains and send levels fixed for the voice.
struct Out {
    Mix& mix;
    float gainL, gainR, echoSend, reverbSend;
    Out(Mix& m, float pan, float echo, float reverb)
        : mix(m),
          gainL(static_cast<float>(std::sqrt(0.5 * (1 - pan)))),
          gainR(static_cast<float>(std::sqrt(0.5 * (1 + pan)))),
          echoSend(echo),
          reverbSend(reverb) {}
    void put(size_t i, float x) {
        mix.left[i] += x * gainL;
        mix.right[i] += x * gainR;
        mix.echo[i] += x * echoSend;
        mix.reverb[i] += x * reverbSend;
    }
    void putStereo(size_t i, float l, float r) {
        mix.left[i] += l * gainL;
        mix.right[i] += r * gainR;
        mix.echo[i] += (l + r) * 0.5f * echoSend;
        mix.reverb[i] += (l + r) * 0.5f * reverbSend;
    }
};

size_t endOf(const Mix& mix, size_t start, double seconds) {
    return std::min(mix.frames, start + static_cast<size_t>(seconds * RATE));
}

// ---------------------------------------------------------------------------
// Drums

// Sine with a falling pitch and a noise click: kick and toms.
void drum(Mix& mix, size_t start, float velocity, double fromHz, double toHz, double sweep,
          double decay, float click, float pan, float reverb, uint32_t seed) {
    Out out(mix, pan, 0, reverb);
    Noise noise(seed);
    Phase phase;
    const float sweepFactor = decayFactor(sweep);
    const float ampFactor = decayFactor(decay);
    const size_t clickFrames = 132;  // 3 ms
    float sweepLevel = 1, amp = velocity;
    const size_t end = endOf(mix, start, decay * 6);
    for (size_t i = start; i < end; ++i) {
        const double hz = toHz + (fromHz - toHz) * sweepLevel;
        float x = sine(phase.advance(hz)) * amp;
        const size_t t = i - start;
        if (t < clickFrames)
            x +=
                noise.next() * click * velocity * static_cast<float>(clickFrames - t) / clickFrames;
        out.put(i, x);
        sweepLevel *= sweepFactor;
        amp *= ampFactor;
    }
}

void kick(Mix& mix, size_t start, float velocity, uint32_t seed) {
    drum(mix, start, velocity, 155, 46, 0.032, 0.30, 0.9f, 0, 0.04f, seed);
}

void tom(Mix& mix, size_t start, float velocity, double hz, float pan, uint32_t seed) {
    drum(mix, start, velocity, hz * 1.6, hz, 0.05, 0.22, 1.2f, pan, 0.22f, seed);
}

// Tone and band-passed noise: snare (long) and snap (short).
void snare(Mix& mix, size_t start, float velocity, double noiseDecay, float reverb, uint32_t seed) {
    Out out(mix, -0.08f, 0.05f, reverb);
    Noise noise(seed);
    Phase low, high;
    Svf band;
    band.tune(2600, 0.9);
    OnePoleHighPass air(5000);
    const float toneFactor = decayFactor(0.045);
    const float noiseFactor = decayFactor(noiseDecay);
    float tone = velocity * 0.45f, hiss = velocity * 0.8f;
    const size_t end = endOf(mix, start, noiseDecay * 6);
    for (size_t i = start; i < end; ++i) {
        const float n = noise.next();
        band.run(n);
        const float x = (sine(low.advance(186)) * 0.7f + sine(high.advance(334)) * 0.3f) * tone +
                        (band.band * 1.4f + air.run(n) * 0.6f) * hiss;
        out.put(i, x);
        tone *= toneFactor;
        hiss *= noiseFactor;
    }
}

// Short bright click with a long room: the caption changes.
void rim(Mix& mix, size_t start, float velocity, uint32_t seed) {
    Out out(mix, 0.15f, 0.3f, 0.55f);
    Noise noise(seed);
    Phase a, b;
    OnePoleHighPass air(3000);
    const float factor = decayFactor(0.011);
    float amp = velocity;
    const size_t end = endOf(mix, start, 0.09);
    for (size_t i = start; i < end; ++i) {
        const float x = (sine(a.advance(1730)) * 0.5f + sine(b.advance(820)) * 0.4f +
                         air.run(noise.next()) * 0.9f) *
                        amp;
        out.put(i, x);
        amp *= factor;
    }
}

void hat(Mix& mix, size_t start, float velocity, bool open, uint32_t seed) {
    Out out(mix, 0.3f, 0.08f, 0.06f);
    Noise noise(seed);
    OnePoleHighPass first(6500), second(6500);
    Svf ring;
    ring.tune(10500, 2.5);
    const double decay = open ? 0.2 : 0.028;
    const float factor = decayFactor(decay);
    float amp = velocity;
    const size_t end = endOf(mix, start, decay * 6);
    for (size_t i = start; i < end; ++i) {
        const float n = second.run(first.run(noise.next()));
        ring.run(n);
        out.put(i, (n + ring.band * 0.5f) * amp);
        amp *= factor;
    }
}

// Two independent noises through high passes: a wide crash cymbal.
void crash(Mix& mix, size_t start, float velocity, double decay, uint32_t seed) {
    Out out(mix, 0, 0.1f, 0.35f);
    Noise noiseL(seed), noiseR(seed + 7919);
    OnePoleHighPass l1(3800), l2(3800), r1(3800), r2(3800);
    Svf shimmerL, shimmerR;
    shimmerL.tune(7200, 1.8);
    shimmerR.tune(7600, 1.8);
    const float factor = decayFactor(decay);
    float amp = velocity;
    const size_t end = endOf(mix, start, decay * 5);
    for (size_t i = start; i < end; ++i) {
        const float l = l2.run(l1.run(noiseL.next()));
        const float r = r2.run(r1.run(noiseR.next()));
        shimmerL.run(l);
        shimmerR.run(r);
        out.putStereo(i, (l + shimmerL.band * 0.6f) * amp, (r + shimmerR.band * 0.6f) * amp);
        amp *= factor;
    }
}

// A long sine boom under the opening flashes.
void boom(Mix& mix, size_t start, float velocity) {
    Out out(mix, 0, 0, 0.1f);
    Phase phase;
    const float factor = decayFactor(0.6);
    float amp = velocity;
    const size_t end = endOf(mix, start, 3.0);
    for (size_t i = start; i < end; ++i) {
        const size_t t = i - start;
        const float attack = t < 441 ? static_cast<float>(t) / 441 : 1.0f;
        out.put(i, sine(phase.advance(41.2)) * amp * attack);
        amp *= factor;
    }
}

// ---------------------------------------------------------------------------
// Tonal instruments

// Sawtooth and sub sine through a resonant low pass whose cutoff falls after the attack.
void bass(Mix& mix, size_t start, size_t length, double note, float velocity, double cutoff,
          double sweep, double q) {
    Out out(mix, 0, 0.02f, 0.03f);
    Saw saw;
    Phase sub;
    Svf filter;
    const double hz = noteHz(note);
    const size_t release = 1323;
    const size_t end = std::min(mix.frames, start + length + release);
    const float sweepFactor = decayFactor(0.14);
    const float bodyFactor = decayFactor(0.3);
    float sweepLevel = 1, body = 1;
    for (size_t i = start; i < end; ++i) {
        const size_t t = i - start;
        if (t % 16 == 0) filter.tune(cutoff + sweep * sweepLevel, q);
        float amp = 0.75f + 0.25f * body;
        if (t < 132) amp *= static_cast<float>(t) / 132;
        if (t >= length) amp *= static_cast<float>(length + release - t) / release;
        filter.run(saw.next(hz) * 0.8f + sine(sub.advance(hz * 0.5)) * 0.7f);
        const float y = filter.low * 1.6f;
        out.put(i, y / (1 + std::fabs(y)) * amp * velocity);
        sweepLevel *= sweepFactor;
        body *= bodyFactor;
    }
}

struct Chord {
    int root;                 // bass note
    std::array<int, 4> tone;  // pad and arpeggio notes, low to high
};

// Detuned sawtooth pairs, one per side, through slowly breathing low passes.
void pad(Mix& mix, size_t start, size_t length, const Chord& chord, float velocity,
         double brightness) {
    Out out(mix, 0, 0.06f, 0.5f);
    const size_t attack = static_cast<size_t>(0.7 * RATE);
    const size_t release = static_cast<size_t>(1.4 * RATE);
    const size_t end = std::min(mix.frames, start + length + release);
    for (int note : chord.tone) {
        Saw a, b;
        b.phase = 0.37;
        Svf left, right;
        const double hz = noteHz(note);
        for (size_t i = start; i < end; ++i) {
            const size_t t = i - start;
            if (t % 32 == 0) {
                const double breath = sine(static_cast<double>(i) * 0.09 / RATE);
                left.tune(450 + 1300 * brightness + 220 * breath, 0.9);
                right.tune(450 + 1300 * brightness - 220 * breath, 0.9);
            }
            float env = t < attack ? static_cast<float>(t) / attack : 1.0f;
            if (t >= length) env *= static_cast<float>(length + release - t) / release;
            left.run(a.next(hz * 1.0035));
            right.run(b.next(hz / 1.0035));
            const float amp = velocity * 0.055f * env;
            out.putStereo(i, left.low * amp, right.low * amp);
        }
    }
}

// Two-operator FM pluck: arpeggios and bells.
void pluck(Mix& mix, size_t start, size_t length, double note, float velocity, float pan,
           double ring) {
    Out out(mix, pan, 0.4f, 0.28f);
    Phase carrier, modulator;
    const double hz = noteHz(note);
    const size_t release = 3528;
    const size_t end = std::min(mix.frames, start + length + release);
    const float indexFactor = decayFactor(0.1);
    const float ampFactor = decayFactor(ring);
    float index = 1.6f, amp = velocity;
    for (size_t i = start; i < end; ++i) {
        const size_t t = i - start;
        float env = t < 88 ? static_cast<float>(t) / 88 : 1.0f;
        if (t >= length) env *= static_cast<float>(length + release - t) / release;
        const double mod = sine(modulator.advance(hz * 2)) * (index + 0.15f) * 0.25;
        out.put(i, sine(carrier.advance(hz) + mod) * amp * env);
        index *= indexFactor;
        amp *= ampFactor;
    }
}

// Band-limited square with a delayed vibrato: the theme.
void squareLead(Mix& mix, size_t start, size_t length, double note, float velocity) {
    Out out(mix, -0.12f, 0.38f, 0.3f);
    Saw a, b;
    b.phase = 0.5;
    Phase vibrato;
    Svf filter;
    const double hz = noteHz(note);
    const size_t release = 2646;
    const size_t end = std::min(mix.frames, start + length + release);
    const float sweepFactor = decayFactor(0.2);
    float sweepLevel = 1;
    for (size_t i = start; i < end; ++i) {
        const size_t t = i - start;
        const double depth = t < 8820 ? 0.0 : std::min(1.0, (t - 8820) / 22050.0);
        const double pitch = hz * (1 + 0.006 * depth * sine(vibrato.advance(5.3)));
        if (t % 16 == 0) filter.tune(1500 + 2200 * sweepLevel, 1.3);
        float env = t < 353 ? static_cast<float>(t) / 353 : 0.72f + 0.28f * sweepLevel;
        if (t >= length) env *= static_cast<float>(length + release - t) / release;
        filter.run((a.next(pitch) - b.next(pitch)) * 0.5f);
        out.put(i, filter.low * velocity * env);
        sweepLevel *= sweepFactor;
    }
}

// The television static of the opening: band-passed noise that rises with the
// picture's fade-in, holds, and fades out with it.
void staticWash(Mix& mix) {
    Out out(mix, 0, 0, 0.2f);
    Noise left(101), right(202);
    Svf filterL, filterR;
    const size_t from = soundtrackFrame(25559), full = soundtrackFrame(27910);
    const size_t fade = soundtrackFrame(31985), gone = soundtrackFrame(36002);
    const size_t end = std::min(mix.frames, gone);
    for (size_t i = from; i < end; ++i) {
        double level = 1, hz = 4200;
        if (i < full) {
            const double e = static_cast<double>(i - from) / (full - from);
            level = e * e;
            hz = 250 * std::pow(16.8, e);
        } else if (i >= fade) {
            level = static_cast<double>(gone - i) / (gone - fade);
        }
        if ((i - from) % 16 == 0) {
            filterL.tune(hz, 1.6);
            filterR.tune(hz * 1.07, 1.6);
        }
        filterL.run(left.next());
        filterR.run(right.next());
        const float amp = static_cast<float>(0.16 * level);
        out.putStereo(i, (filterL.band + filterL.low * 0.3f) * amp,
                      (filterR.band + filterR.low * 0.3f) * amp);
    }
}

// ---------------------------------------------------------------------------
// Effects and master

// Ping-pong echo of three 16ths, darker with every repeat.
void echo(const Mix& mix, std::vector<float>& left, std::vector<float>& right) {
    const size_t delay = 3 * STEP;
    std::vector<float> lineL(delay), lineR(delay);
    float darkL = 0, darkR = 0;
    for (size_t i = 0; i < mix.frames; ++i) {
        const size_t at = i % delay;
        const float outL = lineL[at], outR = lineR[at];
        left[i] += outL;
        right[i] += outR;
        darkL += (outL - darkL) * 0.45f;
        darkR += (outR - darkR) * 0.45f;
        lineL[at] = mix.echo[i] + darkR * 0.42f;
        lineR[at] = darkL * 0.42f;
    }
}

struct Comb {
    std::vector<float> line;
    size_t at = 0;
    float store = 0;
    explicit Comb(size_t n) : line(n) {}
    float run(float in, float feedback, float damp) {
        const float out = line[at];
        store = out * (1 - damp) + store * damp;
        line[at] = in + store * feedback;
        if (++at == line.size()) at = 0;
        return out;
    }
};

struct Allpass {
    std::vector<float> line;
    size_t at = 0;
    explicit Allpass(size_t n) : line(n) {}
    float run(float in) {
        const float delayed = line[at];
        line[at] = in + delayed * 0.5f;
        if (++at == line.size()) at = 0;
        return delayed - in;
    }
};

// A plate-like room: parallel damped combs into series all-passes, the right
// side with slightly longer lines for width.
void reverb(const Mix& mix, std::vector<float>& left, std::vector<float>& right) {
    static constexpr size_t COMBS[] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static constexpr size_t ALLPASSES[] = {556, 441, 341, 225};
    constexpr size_t SPREAD = 23;
    std::vector<Comb> combL, combR;
    std::vector<Allpass> allL, allR;
    for (size_t n : COMBS) {
        combL.emplace_back(n);
        combR.emplace_back(n + SPREAD);
    }
    for (size_t n : ALLPASSES) {
        allL.emplace_back(n);
        allR.emplace_back(n + SPREAD);
    }
    for (size_t i = 0; i < mix.frames; ++i) {
        // The tiny offset keeps the lines out of subnormal numbers in silence.
        const float in = mix.reverb[i] * 0.015f + 1e-20f;
        float l = 0, r = 0;
        for (size_t c = 0; c < combL.size(); ++c) {
            l += combL[c].run(in, 0.85f, 0.3f);
            r += combR[c].run(in, 0.85f, 0.3f);
        }
        for (size_t a = 0; a < allL.size(); ++a) {
            l = allL[a].run(l);
            r = allR[a].run(r);
        }
        left[i] += l * 2.6f;
        right[i] += r * 2.6f;
    }
}

constexpr float MASTER_GAIN = 0.7f;
constexpr float CEILING = 0.88f;  // below -1 dBFS (0.891) with room for rounding

// Sums the buses, fades the tail and limits the peaks offline: the gain needed
// at each frame is spread backwards over 2 ms (the attack, so no peak is
// clipped) and forwards over 150 ms (the release).
std::vector<int16_t> master(Mix& mix) {
    const size_t n = mix.frames;
    std::vector<float> left = mix.left, right = mix.right;
    echo(mix, left, right);
    reverb(mix, left, right);

    OnePoleHighPass dcL(18), dcR(18);
    const size_t fadeFrom = soundtrackFrame(SOUNDTRACK_SHOW_MS + 300);
    const size_t fadeTo = SOUNDTRACK_FRAMES - soundtrackFrame(100);  // ends in silence
    std::vector<float> gain(n);
    for (size_t i = 0; i < n; ++i) {
        float fade = MASTER_GAIN;
        if (i >= fadeTo) {
            fade = 0;
        } else if (i > fadeFrom) {
            fade *= static_cast<float>(fadeTo - i) / (fadeTo - fadeFrom);
        }
        left[i] = dcL.run(left[i]) * fade;
        right[i] = dcR.run(right[i]) * fade;
        const float peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
        gain[i] = peak > CEILING ? CEILING / peak : 1.0f;
    }
    // A ramp that is nearly back at 1 is snapped there: rounding would hold it
    // just below 1 for ever, carrying a limit through the whole piece.
    const auto recover = [](float gain, float factor) {
        const float next = 1 - (1 - gain) * factor;
        return next > 0.99999f ? 1.0f : next;
    };
    const float attack = decayFactor(0.002), release = decayFactor(0.15);
    for (size_t i = n; i-- > 1;) gain[i - 1] = std::min(gain[i - 1], recover(gain[i], attack));
    for (size_t i = 1; i < n; ++i) gain[i] = std::min(gain[i], recover(gain[i - 1], release));

    std::vector<int16_t> pcm(2 * n);
    for (size_t i = 0; i < n; ++i) {
        const float l = std::clamp(left[i] * gain[i], -CEILING, CEILING);
        const float r = std::clamp(right[i] * gain[i], -CEILING, CEILING);
        pcm[2 * i] = static_cast<int16_t>(std::lround(l * 32767.0f));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lround(r * 32767.0f));
    }
    return pcm;
}

}  // namespace

// ---------------------------------------------------------------------------
// The score. 68 bars of 16 steps; a section per scene of the show.

namespace {

constexpr Chord Am = {45, {57, 60, 64, 69}};
constexpr Chord F = {41, {53, 57, 60, 65}};
constexpr Chord Fmaj7 = {41, {57, 60, 64, 65}};
constexpr Chord C = {48, {55, 60, 64, 67}};
constexpr Chord G = {43, {55, 59, 62, 67}};
constexpr Chord Dm = {38, {57, 62, 65, 69}};
constexpr Chord E = {40, {56, 59, 64, 68}};
constexpr Chord Em = {40, {55, 59, 64, 67}};

constexpr int BARS = 68;

// clang-format off
const Chord* const CHORDS[BARS] = {
    &Am, &Am, &F, &F, &C, &C, &G, &G, &Am, &Am, &F, &F, &Dm, &Dm, &E,  // Lights (bars 0-14)
    &Am, &F, &C, &G, &Am, &F, &G, &E,                                  // Sphere (15-22)
    &Fmaj7, &G, &Am, &Em, &Fmaj7, &G, &Am, &Am,                        // Relief (23-30)
    &Am, &F, &C, &G, &Am, &F, &G, &E,                                  // Cubes (31-38)
    &F, &F, &C, &C, &Dm, &Dm, &E, &E,                                  // Glow (39-46)
    &Am, &F, &C, &G, &Am, &F, &G, &E,                                  // Replay (47-54)
    &Am, &F, &C, &G, &Am, &F, &G, &E,                                  // Columns (55-62)
    &F, &G, &Am, &Am, &Am,                                             // Finale (63-67)
};
// clang-format on

enum Section { LIGHTS, SPHERE, RELIEF, CUBES, GLOW, REPLAY, COLUMNS, FINALE };

// First bar of each section, and the end.
constexpr int SECTION_BAR[] = {0, 15, 23, 31, 39, 47, 55, 63, BARS};

Section sectionOf(int bar) {
    int s = 0;
    while (bar >= SECTION_BAR[s + 1]) ++s;
    return static_cast<Section>(s);
}

struct PadStyle {
    float velocity;
    float brightness;
};

constexpr PadStyle PAD[] = {
    {1.5f, 0.3f}, {0.6f, 0.45f}, {0.9f, 0.4f},  {0.5f, 0.55f},
    {1.3f, 0.6f}, {0.65f, 0.5f}, {0.6f, 0.65f}, {1.4f, 0.3f},
};

// Drum grooves, one character per 16th: X loud, x soft, o open hat, . rest.
struct Groove {
    const char* kick;
    const char* snare;
    const char* hats;
};

constexpr Groove NO_DRUMS = {"................", "................", "................"};
constexpr Groove LIGHT_HATS = {"................", "................", "x.x.x.x.x.x.x.x."};
constexpr Groove PUMP_HATS = {"................", "................", "XxxxXxoxXxxxXxox"};
constexpr Groove HALF_TIME = {"X.........X..x..", "........X.......", "x.x.x.x.x.x.x.o."};
constexpr Groove HALF_TIME_BUSY = {"X.........X..x..", "........X.......", "XxxxXxxxXxxxXxox"};
constexpr Groove FOUR = {"X...X...X...X...", "....X.......X...", "xxoxxxoxxxoxxxox"};
constexpr Groove FOUR_FILL = {"X...X...X...X...", "....X.......X.xx", "xxoxxxoxxxoxxxox"};
constexpr Groove BREAK = {"X..X....X....X..", "..x..X....X...X.", "x.x.x.x.x.x.x.x."};
constexpr Groove GLOW_SOFT = {"................", "................", "x...x...x...x..."};
constexpr Groove FINALE_BEAT = {"X.......X.......", "............x...", "x.x.x.x.x.x.x.x."};
constexpr Groove LAST_KICK = {"X...............", "................", "................"};

// The replay section follows the scene it shows: opening, sphere or cubes.
constexpr uint32_t REPLAY_CUTS[] = {120314, 122839, 125370, 127941, 130472,
                                    133085, 135610, 138216, 140747};

const Groove& grooveOf(int bar) {
    switch (sectionOf(bar)) {
        case LIGHTS:
            return bar >= 4 && bar < 10 ? LIGHT_HATS : NO_DRUMS;
        case SPHERE:
            return PUMP_HATS;
        case RELIEF:
            return bar == 23 ? NO_DRUMS : bar < 27 ? HALF_TIME : HALF_TIME_BUSY;
        case CUBES:
            return bar % 4 == 2 ? FOUR_FILL : FOUR;
        case GLOW:
            return bar < 43 ? GLOW_SOFT : HALF_TIME;
        case REPLAY: {
            const uint32_t ms = static_cast<uint32_t>(bar) * 2560 + 1280;
            int segment = 0;
            while (ms >= REPLAY_CUTS[segment + 1]) ++segment;
            return segment % 3 == 0 ? LIGHT_HATS : segment % 3 == 1 ? BREAK : FOUR;
        }
        case COLUMNS:
            return bar % 4 == 2 ? FOUR_FILL : FOUR;
        case FINALE:
            return bar < 66 ? FINALE_BEAT : bar == 66 ? LAST_KICK : NO_DRUMS;
    }
    return NO_DRUMS;
}

// Bass figures: steps where a note starts, its length in steps, octave up or not.
struct BassNote {
    int step, length, interval;
};

constexpr BassNote HELD[] = {{0, 16, 0}};
constexpr BassNote PUMPING[] = {{0, 3, 0}, {3, 2, 0},  {6, 1, 12},
                                {8, 3, 0}, {11, 2, 0}, {14, 2, 12}};
constexpr BassNote RISING[] = {{0, 10, 0}, {10, 3, 0}, {13, 3, 7}};
constexpr BassNote ROLLING[] = {
    {0, 1, 0}, {1, 1, 0}, {2, 1, 12},  {3, 1, 0},  {4, 1, 0},  {5, 1, 0},  {6, 1, 12},  {7, 1, 0},
    {8, 1, 0}, {9, 1, 0}, {10, 1, 12}, {11, 1, 0}, {12, 1, 0}, {13, 1, 7}, {14, 1, 12}, {15, 1, 0}};

struct BassLine {
    const BassNote* notes;
    size_t count;
    float velocity;
    double cutoff, sweep, q;
};

template <size_t N>
constexpr BassLine line(const BassNote (&notes)[N], float velocity, double cutoff, double sweep,
                        double q) {
    return {notes, N, velocity, cutoff, sweep, q};
}

BassLine bassOf(int bar) {
    switch (sectionOf(bar)) {
        case LIGHTS:
            return bar >= 8 ? line(HELD, 0.45f, 110, 220, 1.0) : line(HELD, 0, 0, 0, 1);
        case SPHERE:
            return line(PUMPING, 0.5f, 170, 1500, 3.2);
        case RELIEF:
            // The filter opens while the relief rises.
            return line(RISING, 0.5f, bar < 24 ? 120 : bar < 26 ? 220 : 320, 900, 2.5);
        case CUBES:
            return line(ROLLING, 0.42f, 240, 2100, 4.5);
        case GLOW:
            return line(HELD, 0.45f, 140, 500, 1.5);
        case REPLAY:
            return line(PUMPING, 0.48f, 200, 1700, 3.5);
        case COLUMNS:
            return line(ROLLING, 0.45f, 300 + 40 * (bar - 55), 2300, 5.0);
        case FINALE:
            return line(HELD, 0.45f, 130, 300, 1.2);
    }
    return line(HELD, 0, 0, 0, 1);
}

struct Note {
    int step, length, note;
};

// The theme, over Am F C G | Am F G E.
constexpr Note THEME[8][6] = {
    {{0, 6, 76}, {6, 2, 74}, {8, 4, 72}, {12, 2, 71}, {14, 2, 72}, {0, 0, 0}},
    {{0, 6, 69}, {6, 2, 72}, {8, 6, 77}, {14, 2, 76}, {0, 0, 0}, {0, 0, 0}},
    {{0, 6, 76}, {6, 2, 79}, {8, 4, 76}, {12, 4, 74}, {0, 0, 0}, {0, 0, 0}},
    {{0, 6, 74}, {6, 2, 71}, {8, 4, 67}, {12, 2, 71}, {14, 2, 74}, {0, 0, 0}},
    {{0, 6, 76}, {6, 2, 74}, {8, 4, 72}, {12, 2, 71}, {14, 2, 72}, {0, 0, 0}},
    {{0, 6, 69}, {6, 2, 72}, {8, 6, 77}, {14, 2, 76}, {0, 0, 0}, {0, 0, 0}},
    {{0, 6, 74}, {6, 2, 76}, {8, 4, 79}, {12, 2, 77}, {14, 2, 76}, {0, 0, 0}},
    {{0, 8, 71}, {8, 4, 68}, {12, 4, 71}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
};

// The slow bell tune of the glow section, over F F C C Dm Dm E E.
constexpr Note BELLS[8][2] = {
    {{0, 8, 72}, {8, 8, 69}}, {{0, 16, 77}, {0, 0, 0}}, {{0, 8, 76}, {8, 8, 72}},
    {{0, 16, 79}, {0, 0, 0}}, {{0, 8, 77}, {8, 8, 74}}, {{0, 16, 69}, {0, 0, 0}},
    {{0, 8, 68}, {8, 8, 71}}, {{0, 16, 76}, {0, 0, 0}},
};

// Arpeggio orders over the four chord tones, one per 16th.
constexpr int ARP_UP[16] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 2, 3, 1, 2};
constexpr int ARP_WIDE[16] = {0, 2, 1, 3, 0, 2, 3, 1, 0, 2, 1, 3, 2, 0, 3, 1};

// Grid drums give way to the cue hits: none from 90 ms before a cue to 30 ms after it.
bool clearOfCues(size_t frame, const std::vector<size_t>& cues) {
    const size_t before = soundtrackFrame(30), after = soundtrackFrame(90);
    auto next = std::lower_bound(cues.begin(), cues.end(), frame > before ? frame - before : 0);
    return next == cues.end() || *next > frame + after;
}

float level(char c, float loud, float soft) {
    return c == 'X' ? loud : c == '.' ? 0 : soft;
}

void playGrid(Mix& mix, const std::vector<size_t>& cueFrames) {
    for (int bar = 0; bar < BARS; ++bar) {
        const Groove& groove = grooveOf(bar);
        for (int step = 0; step < 16; ++step) {
            const size_t at = static_cast<size_t>(bar) * BAR + static_cast<size_t>(step) * STEP;
            if (!clearOfCues(at, cueFrames)) continue;
            const uint32_t seed = static_cast<uint32_t>(at);
            if (float v = level(groove.kick[step], 0.85f, 0.5f)) kick(mix, at, v, seed);
            if (float v = level(groove.snare[step], 0.5f, 0.22f))
                snare(mix, at, v, 0.15, 0.3f, seed);
            const char h = groove.hats[step];
            if (h != '.') hat(mix, at, level(h, 0.2f, h == 'o' ? 0.15f : 0.11f), h == 'o', seed);
        }
        // The drum roll into the sphere, growing over the last bar of the opening.
        if (bar == 14) {
            for (int step = 0; step < 16; ++step) {
                const size_t at = static_cast<size_t>(bar) * BAR + static_cast<size_t>(step) * STEP;
                if (clearOfCues(at, cueFrames))
                    snare(mix, at, 0.1f + 0.03f * step, 0.08, 0.2f, static_cast<uint32_t>(at));
            }
        }
    }
}

void playCues(Mix& mix) {
    uint32_t lastTom = 0;
    double tomHz = 0;
    for (size_t c = 0; c < SOUNDTRACK_CUE_COUNT; ++c) {
        const Cue& cue = SOUNDTRACK_CUES[c];
        const size_t at = soundtrackFrame(cue.ms);
        const uint32_t seed = cue.ms;
        // A hit just before another is its grace note, played softly (a flam).
        const bool grace = c + 1 < SOUNDTRACK_CUE_COUNT && SOUNDTRACK_CUES[c + 1].ms - cue.ms < 30;
        switch (cue.hit) {
            case Hit::Impact:
                kick(mix, at, 1.0f, seed);
                boom(mix, at, 0.3f);
                crash(mix, at, 0.22f, 0.35, seed);
                break;
            case Hit::Kick:
                kick(mix, at, 0.95f, seed);
                break;
            case Hit::Snap:
                snare(mix, at, 0.55f, 0.06, 0.18f, seed);
                break;
            case Hit::Tom:
                // Runs of toms fall in pitch, like a fill down the kit.
                tomHz = cue.ms - lastTom < 400 && lastTom ? std::max(58.0, tomHz * 0.8) : 165.0;
                lastTom = cue.ms;
                tom(mix, at, 0.85f, tomHz, static_cast<float>((tomHz - 110) / 200), seed);
                break;
            case Hit::Rim:
                rim(mix, at, grace ? 0.2f : 0.6f, seed);
                break;
            case Hit::Crash:
                kick(mix, at, 0.9f, seed);
                crash(mix, at, 0.32f, 0.32, seed);
                break;
        }
    }
}

void playHarmony(Mix& mix) {
    // Pads: one event per run of the same chord within a section.
    for (int bar = 0; bar < BARS;) {
        int end = bar + 1;
        while (end < BARS && CHORDS[end] == CHORDS[bar] && sectionOf(end) == sectionOf(bar)) ++end;
        const PadStyle& style = PAD[sectionOf(bar)];
        const size_t length = static_cast<size_t>(end - bar) * BAR;
        pad(mix, static_cast<size_t>(bar) * BAR, length, *CHORDS[bar], style.velocity,
            style.brightness);
        bar = end;
    }
    // Bass.
    for (int bar = 0; bar < BARS; ++bar) {
        const BassLine bl = bassOf(bar);
        if (bl.velocity == 0) continue;
        for (size_t n = 0; n < bl.count; ++n) {
            const BassNote& note = bl.notes[n];
            const size_t at =
                static_cast<size_t>(bar) * BAR + static_cast<size_t>(note.step) * STEP;
            const size_t length = static_cast<size_t>(note.length) * STEP - STEP / 5;
            bass(mix, at, length, CHORDS[bar]->root + note.interval, bl.velocity, bl.cutoff,
                 bl.sweep, bl.q);
        }
    }
}

void playArpeggio(Mix& mix, int bar, const int (&order)[16], int every, float velocity,
                  int firstStep = 0) {
    for (int step = firstStep; step < 16; step += every) {
        const size_t at = static_cast<size_t>(bar) * BAR + static_cast<size_t>(step) * STEP;
        const int note = CHORDS[bar]->tone[order[step]] + 12;
        pluck(mix, at, STEP * every - STEP / 4, note, velocity, step % 2 ? 0.35f : -0.35f, 0.25);
    }
}

void playMelodies(Mix& mix) {
    for (int bar = 0; bar < BARS; ++bar) {
        const Section section = sectionOf(bar);
        const int inSection = bar - SECTION_BAR[section];
        const size_t barStart = static_cast<size_t>(bar) * BAR;
        if (section == SPHERE && inSection >= 4) playArpeggio(mix, bar, ARP_WIDE, 2, 0.16f);
        // The glow comes on at 69265 ms, just after the first 16th of bar 27.
        if (section == RELIEF && bar >= 27) playArpeggio(mix, bar, ARP_UP, 1, 0.12f, bar == 27);
        if (section == REPLAY) playArpeggio(mix, bar, ARP_UP, 1, 0.1f);
        if (section == COLUMNS) playArpeggio(mix, bar, ARP_WIDE, 1, 0.08f);
        if (section == CUBES || section == COLUMNS) {
            for (const Note& n : THEME[inSection]) {
                if (n.length == 0) continue;
                squareLead(mix, barStart + static_cast<size_t>(n.step) * STEP,
                           static_cast<size_t>(n.length) * STEP - STEP / 6, n.note,
                           section == CUBES ? 0.16f : 0.19f);
                if (section == COLUMNS)
                    pluck(mix, barStart + static_cast<size_t>(n.step) * STEP, STEP, n.note + 12,
                          0.06f, 0.2f, 0.5);
            }
        }
        if (section == GLOW) {
            for (const Note& n : BELLS[inSection]) {
                if (n.length == 0) continue;
                pluck(mix, barStart + static_cast<size_t>(n.step) * STEP,
                      static_cast<size_t>(n.length) * STEP, n.note, 0.22f, -0.1f, 1.2);
            }
        }
        // The finale quotes the first two bars of the theme, slowly fading into the curtain.
        if (section == FINALE && inSection < 2) {
            for (const Note& n : THEME[inSection]) {
                if (n.length == 0) continue;
                pluck(mix, barStart + static_cast<size_t>(n.step) * STEP,
                      static_cast<size_t>(n.length) * STEP, n.note, 0.2f, 0, 0.9);
            }
        }
    }
}

}  // namespace

std::vector<int16_t> renderSoundtrack(size_t frameCount) {
    Mix mix(frameCount);
    std::vector<size_t> cueFrames;
    for (size_t c = 0; c < SOUNDTRACK_CUE_COUNT; ++c)
        cueFrames.push_back(soundtrackFrame(SOUNDTRACK_CUES[c].ms));
    std::sort(cueFrames.begin(), cueFrames.end());

    playHarmony(mix);
    playMelodies(mix);
    staticWash(mix);
    playGrid(mix, cueFrames);
    playCues(mix);
    return master(mix);
}
