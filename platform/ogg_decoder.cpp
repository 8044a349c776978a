// Ogg Vorbis decoding through libvorbisfile, a block at a time, and conversion
// to 44.1 kHz stereo with a windowed-sinc resampler.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
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
    std::string where = "\"" + std::string(fileName) + "\"";
    std::error_code error;
    if (!std::filesystem::path(fileName).is_absolute()) {
        const std::filesystem::path dir = std::filesystem::current_path(error);
        if (!error) where += " in " + dir.string();
    }
    return where;
}

size_t readFile(void* buffer, size_t size, size_t count, void* file) {
    return std::fread(buffer, size, count, static_cast<FILE*>(file));
}

int seekFile(void* file, ogg_int64_t offset, int whence) {
    if (offset < LONG_MIN || offset > LONG_MAX) return -1;
    return std::fseek(static_cast<FILE*>(file), static_cast<long>(offset), whence);
}

long tellFile(void* file) {
    return std::ftell(static_cast<FILE*>(file));
}

// The file is closed by its owner, not by libvorbisfile.
constexpr ov_callbacks FILE_CALLBACKS = {readFile, seekFile, nullptr, tellFile};

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

// Whether the last whole page in the file ends a stream. A file cut anywhere
// (inside a page or between two) ends on a page without the end-of-stream
// flag; two page lengths from the end always hold a whole page if there is one.
bool endsWithEndOfStream(FILE* file, long fileSize) {
    const long tail = std::min(fileSize, 2 * MAX_PAGE_BYTES);
    if (std::fseek(file, fileSize - tail, SEEK_SET) != 0) return false;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, tail);
    const size_t got = buffer ? std::fread(buffer, 1, static_cast<size_t>(tail), file) : 0;
    ogg_sync_wrote(&sync, static_cast<long>(got));
    bool lastIsEnd = false;
    ogg_page page;
    for (;;) {
        const long step = ogg_sync_pageseek(&sync, &page);
        if (step == 0) break;  // the rest is no whole page
        if (step > 0) lastIsEnd = ogg_page_eos(&page) != 0;
    }
    ogg_sync_clear(&sync);
    return lastIsEnd;
}

// A file whose three Vorbis headers cannot be read is refused before
// libvorbisfile sees it: its open leaks the header state it had allocated
// when it fails (libvorbisfile 1.3.7, up to 28 KB per failed open). Reads the
// first pages of the first logical stream; OV_* code, or 0 when all three
// headers are good.
int checkHeaders(FILE* file) {
    std::rewind(file);
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    ogg_stream_state stream;
    bool streamReady = false;
    vorbis_info info;
    vorbis_comment comment;
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
    int headers = 0;
    int result = OV_ENOTVORBIS;
    long bytesRead = 0;
    constexpr long HEADER_BYTES_LIMIT = 4 << 20;  // codebooks are large, never this large
    ogg_page page;
    ogg_packet packet;
    bool done = false;
    while (!done) {
        const int pageResult = ogg_sync_pageout(&sync, &page);
        if (pageResult == 0) {
            if (bytesRead >= HEADER_BYTES_LIMIT) break;
            char* buffer = ogg_sync_buffer(&sync, 4096);
            const size_t got = buffer ? std::fread(buffer, 1, 4096, file) : 0;
            if (got == 0) break;
            ogg_sync_wrote(&sync, static_cast<long>(got));
            bytesRead += static_cast<long>(got);
            continue;
        }
        if (pageResult < 0) continue;  // skipped bytes before a page
        if (!streamReady) {
            if (!ogg_page_bos(&page)) continue;
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            streamReady = true;
        }
        if (ogg_page_serialno(&page) != stream.serialno) continue;  // another stream
        ogg_stream_pagein(&stream, &page);
        while (!done) {
            const int packetResult = ogg_stream_packetout(&stream, &packet);
            if (packetResult == 0) break;
            if (packetResult < 0) {
                result = headers == 0 ? OV_ENOTVORBIS : OV_EBADHEADER;
                done = true;
                break;
            }
            const int headerResult = vorbis_synthesis_headerin(&info, &comment, &packet);
            if (headerResult != 0) {
                result = headers == 0
                             ? (headerResult == OV_EBADHEADER ? OV_EBADHEADER : OV_ENOTVORBIS)
                             : OV_EBADHEADER;
                done = true;
                break;
            }
            if (++headers == 3) {
                result = 0;
                done = true;
            }
        }
    }
    if (!done && headers > 0) result = OV_EBADHEADER;  // the file ends inside its headers
    if (streamReady) ogg_stream_clear(&stream);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    ogg_sync_clear(&sync);
    std::rewind(file);
    return result;
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
    bool seekable = false;
    int playableLinks = 1;      // leading links in the file's own format
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
            int section = 0;
            const int bigEndian = std::endian::native == std::endian::big ? 1 : 0;
            const long got = ov_read(&vorbis, reinterpret_cast<char*>(block), sizeof block,
                                     bigEndian, 2, 1, &section);
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
            if (section >= playableLinks || !now || now->channels != channels ||
                now->rate != rate) {
                inputEnded = true;  // a chained stream of another format: not ours
                return false;
            }
            blockFrames = static_cast<size_t>(got) / (2 * static_cast<size_t>(channels));
            blockPosition = 0;
            if (holes > 0 && seekable) {
                // After a lost page libvorbisfile counts on from where it was
                // until the next page that gives its position; from there on,
                // the frames lost become silence, so what follows is in time.
                const ogg_int64_t after = ov_pcm_tell(&vorbis);
                if (after >= 0 && static_cast<uint64_t>(after) >= nativeDelivered + blockFrames) {
                    const uint64_t start = static_cast<uint64_t>(after) - blockFrames;
                    // A position past the file's own length is not believed.
                    if (start > nativeDelivered && (nativeLength == 0 || start <= nativeLength))
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
    // Checked before libvorbisfile reads the file: it expects to find it at its start.
    const bool ends = fileSize < 0 || endsWithEndOfStream(d->file, fileSize);
    std::rewind(d->file);
    if (const int headers = checkHeaders(d->file); headers != 0) {
        problem = "Music file " + where + " " + openError(headers);
        return false;
    }
    const int opened = ov_open_callbacks(d->file, &d->vorbis, nullptr, 0, FILE_CALLBACKS);
    if (opened != 0) {
        problem = "Music file " + where + " " + openError(opened);
        return false;
    }
    d->vorbisOpen = true;

    const vorbis_info* info = ov_info(&d->vorbis, 0);
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

    // Length and early ends, from what libvorbisfile read at the file's end.
    d->seekable = ov_seekable(&d->vorbis) != 0;
    bool formatChanges = false;
    if (d->seekable) {
        const long links = ov_streams(&d->vorbis);
        int playable = 0;
        for (long link = 0; link < links; ++link) {
            const vorbis_info* linkInfo = ov_info(&d->vorbis, static_cast<int>(link));
            if (!linkInfo || linkInfo->channels != d->channels || linkInfo->rate != d->rate) {
                formatChanges = true;
                break;
            }
            const ogg_int64_t frames = ov_pcm_total(&d->vorbis, static_cast<int>(link));
            if (frames > 0) d->nativeLength += static_cast<uint64_t>(frames);
            ++playable;
        }
        d->playableLinks = std::max(playable, 1);
    }
    d->setUpResampler();
    if (!d->decodeBlock()) {
        problem = "Music file " + where + (d->stoppedByDamage ? " is damaged" : " holds no sound");
        return false;
    }

    fileRate_ = d->rate;
    fileChannels_ = d->channels;
    lengthFrames_ = atOutputRate(d->nativeLength, d->rate);
    const std::string stopsAt =
        formatMinutesSeconds(d->nativeLength / static_cast<uint64_t>(d->rate));
    if (formatChanges) {
        notice_ =
            "Music file " + where + " changes to another format: the music stops at " + stopsAt;
    } else if (!ends && d->seekable) {
        notice_ = "Music file " + where + " is cut short: the music stops at " + stopsAt;
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
    if (!d.seekable || ov_raw_seek(&d.vorbis, 0) != 0) {
        d.inputEnded = true;
        d.tailPadded = true;
        return false;
    }
    stoppedByDamage_ = false;
    return true;
}

std::string formatMinutesSeconds(uint64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02u", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}
