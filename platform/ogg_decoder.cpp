// Ogg Vorbis decoding through libvorbisfile, a block at a time, and conversion
// to 44.1 kHz stereo with a windowed-sinc resampler.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <vector>

#include "platform/ogg_decoder.h"

namespace {

// Where a relative name was looked for, so that a failure says which file is meant.
std::string describeFile(const char* fileName) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // "literal" + std::string.
    std::string where;
    where.append(1, '"').append(fileName).append(1, '"');
    std::error_code error;
    if (!std::filesystem::path(fileName).is_absolute()) {
        const std::filesystem::path dir = std::filesystem::current_path(error);
        if (!error) where.append(" in ").append(dir.string());
    }
    return where;
}

size_t readFile(void* buffer, size_t size, size_t count, void* file) {
    return std::fread(buffer, size, count, static_cast<FILE*>(file));
}

// libvorbisfile reads the file as a stream, without seeking: opened seekable
// it reads the headers of every chained link at open, and when one of them is
// damaged the failed open leaks what it had allocated for it (libvorbisfile
// 1.3.7). As a stream it reads the first link's headers at open and the
// others when playback gets there. The length and the end come from our own
// look at the last pages; going back to the start opens the stream again.
constexpr ov_callbacks STREAM_CALLBACKS = {readFile, nullptr, nullptr, nullptr};

const char* openError(int code) {
    switch (code) {
        case OV_ENOTVORBIS:
            return "is not an Ogg Vorbis file";
        case OV_EVERSION:
            return "has an unsupported Vorbis version";
        case OV_EBADHEADER:
            return "has a damaged Vorbis header";
        default:
            return "cannot be read as Ogg Vorbis";
    }
}

// The largest Ogg page: 27 header bytes, 255 lacing values, 255 x 255 data bytes.
constexpr long MAX_PAGE_BYTES = 27 + 255 + 255 * 255;

// What the file's last whole pages say: whether the last one ends a stream,
// and the last position given (the length of the music, if the file is one
// stream) with its stream's serial number. A file cut anywhere (inside a page
// or between two) ends on a page without the end-of-stream flag; two page
// lengths from the end always hold a whole page if there is one.
struct FileEnd {
    bool endOfStream = false;
    int64_t granule = -1;
    int serial = 0;
};

FileEnd readFileEnd(FILE* file, long fileSize) {
    FileEnd end;
    const long tail = std::min(fileSize, 2 * MAX_PAGE_BYTES);
    if (std::fseek(file, fileSize - tail, SEEK_SET) != 0) return end;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, tail);
    const size_t got = buffer ? std::fread(buffer, 1, static_cast<size_t>(tail), file) : 0;
    ogg_sync_wrote(&sync, static_cast<long>(got));
    ogg_page page;
    for (;;) {
        const long step = ogg_sync_pageseek(&sync, &page);
        if (step == 0) break;  // the rest is no whole page
        if (step < 0) continue;
        end.endOfStream = ogg_page_eos(&page) != 0;
        if (ogg_page_granulepos(&page) >= 0) {
            end.granule = ogg_page_granulepos(&page);
            end.serial = ogg_page_serialno(&page);
        }
    }
    ogg_sync_clear(&sync);
    return end;
}

// Frames of `frames` at `rate` expressed at the output rate, without overflow.
uint64_t atOutputRate(uint64_t frames, int rate) {
    const uint64_t r = static_cast<uint64_t>(rate);
    return frames / r * OggMusicSource::OUTPUT_RATE + frames % r * OggMusicSource::OUTPUT_RATE / r;
}

// Zeroth-order modified Bessel function, for the Kaiser window.
double besselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
        if (term < sum * 1e-12) break;
    }
    return sum;
}

// Low-pass interpolation filter from the file's rate to the output rate, one
// row of taps per fractional input position (PHASES + 1 rows: the last one is
// the next whole position).
struct Resampler {
    static constexpr int PHASES = 256;
    static constexpr double ZERO_CROSSINGS = 16;  // per side: about 80 dB of stop band
    static constexpr double KAISER_BETA = 8.0;
    int half = 0;  // input frames on each side of the position
    int taps = 0;
    std::vector<float> table;

    void design(int inputRate) {
        const double ratio = double(OggMusicSource::OUTPUT_RATE) / inputRate;
        // Pass band to 92% of the lower Nyquist frequency, in cycles per input frame.
        const double cutoff = 0.5 * std::min(1.0, ratio) * 0.92;
        half = static_cast<int>(std::ceil(ZERO_CROSSINGS / (2 * cutoff)));
        taps = 2 * half;
        table.assign(static_cast<size_t>(PHASES + 1) * static_cast<size_t>(taps), 0.0f);
        const double norm = besselI0(KAISER_BETA);
        for (int p = 0; p <= PHASES; ++p) {
            const double fraction = double(p) / PHASES;
            float* row = &table[static_cast<size_t>(p) * static_cast<size_t>(taps)];
            double sum = 0;
            std::vector<double> h(static_cast<size_t>(taps));
            for (int k = 0; k < taps; ++k) {
                const double u = fraction - (k - half + 1);  // from input frame to position
                const double w = u / half;
                if (w <= -1 || w >= 1) continue;
                const double x = 2 * cutoff * u;
                const double sinc =
                    x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
                h[static_cast<size_t>(k)] =
                    2 * cutoff * sinc * besselI0(KAISER_BETA * std::sqrt(1 - w * w)) / norm;
                sum += h[static_cast<size_t>(k)];
            }
            // Unit gain at every phase: a steady level stays steady.
            for (int k = 0; k < taps; ++k)
                row[k] = static_cast<float>(h[static_cast<size_t>(k)] / sum);
        }
    }
};

int16_t toSample(float value) {
    const float clamped = std::clamp(value, -32768.0f, 32767.0f);
    return static_cast<int16_t>(std::lrint(clamped));
}

}  // namespace

struct OggMusicSource::Decoder {
    static constexpr size_t BLOCK_FRAMES = 4096;

    FILE* file = nullptr;
    OggVorbis_File vorbis{};
    bool vorbisOpen = false;
    int channels = 0;
    int rate = 0;
    bool rewindable = false;    // a file, not a pipe: its end was read at open
    uint64_t nativeLength = 0;  // frames at the file's rate; 0 if unknown
    bool stoppedByDamage = false;

    // Decoded frames at the file's rate, as libvorbisfile hands them over.
    int16_t block[BLOCK_FRAMES * 2] = {};
    size_t blockFrames = 0;
    size_t blockPosition = 0;
    uint64_t nativeDelivered = 0;  // frames handed on, silence for holes included
    uint64_t silenceOwed = 0;      // frames of silence standing in for lost pages
    int holes = 0;
    bool inputEnded = false;

    // Resampling state: the output frame n sits at input position
    // `position + remainder / OUTPUT_RATE`; history holds input frames from
    // absolute index historyBase on (negative: the silence before the music).
    bool passthrough = true;
    Resampler filter;
    std::vector<float> history;  // interleaved, `channels` per frame
    size_t historyFrames = 0;
    size_t historyCapacity = 0;
    int64_t historyBase = 0;
    int64_t position = 0;
    int64_t remainder = 0;
    bool tailPadded = false;

    ~Decoder() {
        if (vorbisOpen) ov_clear(&vorbis);
        if (file) std::fclose(file);
    }

    void resetStream() {
        blockFrames = blockPosition = 0;
        nativeDelivered = silenceOwed = 0;
        holes = 0;
        inputEnded = false;
        stoppedByDamage = false;
        historyFrames = 0;
        position = 0;
        remainder = 0;
        tailPadded = false;
        if (!passthrough) {
            // Silence before the first frame, so that the first output frame is
            // centred on it.
            historyBase = -(filter.half - 1);
            const size_t lead = static_cast<size_t>(filter.half - 1);
            std::fill(history.begin(), history.begin() + lead * static_cast<size_t>(channels),
                      0.0f);
            historyFrames = lead;
        }
    }

    void setUpResampler() {
        passthrough = rate == OUTPUT_RATE;
        if (!passthrough) {
            filter.design(rate);
            historyCapacity = static_cast<size_t>(filter.taps) + 2 * BLOCK_FRAMES;
            history.assign(historyCapacity * static_cast<size_t>(channels), 0.0f);
        }
        resetStream();
    }

    // Decodes the next block; false at the end of the music.
    bool decodeBlock() {
        if (inputEnded) return false;
        for (;;) {
            int link = 0;
            const int bigEndian = std::endian::native == std::endian::big ? 1 : 0;
            const long got = ov_read(&vorbis, reinterpret_cast<char*>(block), sizeof block,
                                     bigEndian, 2, 1, &link);
            if (got == 0) {
                inputEnded = true;
                return false;
            }
            if (got == OV_HOLE && ++holes <= 64) continue;
            if (got < 0) {
                stoppedByDamage = true;
                inputEnded = true;
                return false;
            }
            const vorbis_info* now = ov_info(&vorbis, -1);
            if (!now || now->channels != channels || now->rate != rate) {
                inputEnded = true;  // a chained stream of another format: not ours
                return false;
            }
            blockFrames = static_cast<size_t>(got) / (2 * static_cast<size_t>(channels));
            blockPosition = 0;
            if (holes > 0 && rewindable) {
                // After a lost page libvorbisfile counts on from where it was
                // until the next page that gives its position; from there on,
                // the frames lost become silence, so what follows is in time.
                const ogg_int64_t after = ov_pcm_tell(&vorbis);
                if (after >= 0 && static_cast<uint64_t>(after) >= nativeDelivered + blockFrames) {
                    const uint64_t start = static_cast<uint64_t>(after) - blockFrames;
                    // Only within the file's own known length.
                    if (start > nativeDelivered && start <= nativeLength)
                        silenceOwed = start - nativeDelivered;
                }
            }
            if (blockFrames > 0) return true;
        }
    }

    // Up to maxFrames native frames as int16 (or zeros for silence); 0 at the end.
    size_t nextNative(const int16_t*& frames, size_t maxFrames) {
        static const int16_t zeros[BLOCK_FRAMES * 2] = {};
        if (silenceOwed > 0) {
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>(silenceOwed, std::min(maxFrames, BLOCK_FRAMES)));
            silenceOwed -= n;
            nativeDelivered += n;
            frames = zeros;
            return n;
        }
        if (blockPosition == blockFrames && !decodeBlock()) return 0;
        if (silenceOwed > 0) return nextNative(frames, maxFrames);  // a hole came first
        const size_t n = std::min(maxFrames, blockFrames - blockPosition);
        frames = block + blockPosition * static_cast<size_t>(channels);
        blockPosition += n;
        nativeDelivered += n;
        return n;
    }

    size_t readPassthrough(int16_t* stereo, size_t frames) {
        size_t done = 0;
        while (done < frames) {
            const int16_t* in = nullptr;
            const size_t n = nextNative(in, frames - done);
            if (n == 0) break;
            if (channels == 2) {
                std::memcpy(stereo + 2 * done, in, n * 4);
            } else {
                for (size_t i = 0; i < n; ++i)
                    stereo[2 * (done + i)] = stereo[2 * (done + i) + 1] = in[i];
            }
            done += n;
        }
        return done;
    }

    // Appends decoded frames to the history (after dropping what no output
    // frame needs any more); false once the input is over and padded.
    bool refillHistory() {
        const int64_t firstNeeded = position - (filter.half - 1);
        if (firstNeeded > historyBase) {
            const size_t drop =
                std::min(static_cast<size_t>(firstNeeded - historyBase), historyFrames);
            const size_t ch = static_cast<size_t>(channels);
            std::memmove(history.data(), history.data() + drop * ch,
                         (historyFrames - drop) * ch * sizeof(float));
            historyFrames -= drop;
            historyBase += static_cast<int64_t>(drop);
        }
        const size_t room = historyCapacity - historyFrames;
        if (room == 0) return true;
        const int16_t* in = nullptr;
        const size_t n = nextNative(in, room);
        float* out = history.data() + historyFrames * static_cast<size_t>(channels);
        if (n > 0) {
            for (size_t i = 0; i < n * static_cast<size_t>(channels); ++i) out[i] = in[i];
            historyFrames += n;
            return true;
        }
        if (tailPadded) return false;
        // Silence after the last frame, so that the last output frames see it.
        const size_t pad = std::min(room, static_cast<size_t>(filter.half) + 1);
        std::fill(out, out + pad * static_cast<size_t>(channels), 0.0f);
        historyFrames += pad;
        tailPadded = true;
        return true;
    }

    size_t readResampled(int16_t* stereo, size_t frames) {
        const size_t taps = static_cast<size_t>(filter.taps);
        const size_t ch = static_cast<size_t>(channels);
        size_t done = 0;
        while (done < frames) {
            // The music ends at the last input frame.
            if (tailPadded && position >= static_cast<int64_t>(nativeDelivered)) break;
            const int64_t last = position + filter.half;
            if (last >= historyBase + static_cast<int64_t>(historyFrames)) {
                if (!refillHistory()) break;
                continue;
            }
            const int phase = static_cast<int>(remainder * Resampler::PHASES / OUTPUT_RATE);
            const float* row = &filter.table[static_cast<size_t>(phase) * taps];
            const float* x =
                &history[static_cast<size_t>(position - (filter.half - 1) - historyBase) * ch];
            float left = 0, right = 0;
            if (ch == 2) {
                for (size_t k = 0; k < taps; ++k) {
                    left += row[k] * x[2 * k];
                    right += row[k] * x[2 * k + 1];
                }
            } else {
                for (size_t k = 0; k < taps; ++k) left += row[k] * x[k];
                right = left;
            }
            stereo[2 * done] = toSample(left);
            stereo[2 * done + 1] = toSample(right);
            ++done;
            remainder += rate;
            position += remainder / OUTPUT_RATE;
            remainder %= OUTPUT_RATE;
        }
        return done;
    }
};

OggMusicSource::OggMusicSource() = default;
OggMusicSource::~OggMusicSource() = default;

bool OggMusicSource::isOpen() const {
    return decoder_ != nullptr;
}

void OggMusicSource::close() {
    decoder_.reset();
    notice_.clear();
    fileRate_ = fileChannels_ = 0;
    lengthFrames_ = 0;
    stoppedByDamage_ = false;
}

bool OggMusicSource::open(const char* fileName, std::string& problem) {
    close();
    problem.clear();
    if (!fileName || !fileName[0]) {
        problem = "No music file name given";
        return false;
    }
    const std::string where = describeFile(fileName);
    auto d = std::make_unique<Decoder>();

    d->file = std::fopen(fileName, "rb");
    if (!d->file) {
        problem = "Cannot open music file " + where + ": " + std::strerror(errno);
        return false;
    }
    long fileSize = -1;
    if (std::fseek(d->file, 0, SEEK_END) == 0) fileSize = std::ftell(d->file);
    if (fileSize == 0) {
        problem = "Music file " + where + " is empty";
        return false;
    }
    d->rewindable = fileSize > 0;
    const FileEnd end = d->rewindable ? readFileEnd(d->file, fileSize) : FileEnd{};
    if (d->rewindable) std::rewind(d->file);
    const int opened = ov_open_callbacks(d->file, &d->vorbis, nullptr, 0, STREAM_CALLBACKS);
    if (opened != 0) {
        problem = "Music file " + where + " " + openError(opened);
        return false;
    }
    d->vorbisOpen = true;

    const vorbis_info* info = ov_info(&d->vorbis, -1);
    if (!info || info->rate <= 0 || info->channels < 1) {
        problem = "Music file " + where + " has a damaged Vorbis header";
        return false;
    }
    if (info->channels > 2) {
        problem = "Music file " + where + " has " + std::to_string(info->channels) +
                  " channels; only mono and stereo are played";
        return false;
    }
    if (info->rate > MAX_FILE_RATE) {
        problem = "Music file " + where + " has a sample rate of " + std::to_string(info->rate) +
                  " Hz; at most " + std::to_string(MAX_FILE_RATE) + " Hz is played";
        return false;
    }
    d->channels = info->channels;
    d->rate = static_cast<int>(info->rate);
    // The last position is the length when the file is one stream (the usual
    // case); of a chain of streams only the last one's length is known.
    if (end.granule > 0 && end.serial == ov_serialnumber(&d->vorbis, -1))
        d->nativeLength = static_cast<uint64_t>(end.granule);

    d->setUpResampler();
    if (!d->decodeBlock()) {
        problem = "Music file " + where + (d->stoppedByDamage ? " is damaged" : " holds no sound");
        return false;
    }

    fileRate_ = d->rate;
    fileChannels_ = d->channels;
    lengthFrames_ = atOutputRate(d->nativeLength, d->rate);
    if (d->rewindable && !end.endOfStream) {
        notice_ =
            "Music file " + where + " is cut short: the music stops " +
            (d->nativeLength > 0
                 ? "at " + formatMinutesSeconds(d->nativeLength / static_cast<uint64_t>(d->rate))
                 : std::string("before its end"));
    }
    decoder_ = std::move(d);
    return true;
}

size_t OggMusicSource::read(int16_t* stereo, size_t frames) {
    if (!decoder_ || !stereo) return 0;
    Decoder& d = *decoder_;
    const size_t got =
        d.passthrough ? d.readPassthrough(stereo, frames) : d.readResampled(stereo, frames);
    stoppedByDamage_ = d.stoppedByDamage;
    return got;
}

bool OggMusicSource::rewind() {
    if (!decoder_) return false;
    Decoder& d = *decoder_;
    d.resetStream();
    stoppedByDamage_ = false;
    // Opened again from the start (the same headers, checked at open).
    if (d.vorbisOpen) ov_clear(&d.vorbis);
    d.vorbisOpen = false;
    if (d.rewindable) {
        std::rewind(d.file);
        d.vorbisOpen = ov_open_callbacks(d.file, &d.vorbis, nullptr, 0, STREAM_CALLBACKS) == 0;
    }
    if (!d.vorbisOpen) {
        d.inputEnded = true;
        d.tailPadded = true;
        return false;
    }
    return true;
}

std::string formatMinutesSeconds(uint64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02u", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}
