// Ogg Vorbis decoding through libvorbisfile, a block at a time, and conversion
// to 44.1 kHz stereo through libsoxr.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <soxr.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

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

int seekFile(void* file, ogg_int64_t offset, int whence) {
    if (offset < LONG_MIN || offset > LONG_MAX) return -1;
    return std::fseek(static_cast<FILE*>(file), static_cast<long>(offset), whence);
}

long tellFile(void* file) {
    return std::ftell(static_cast<FILE*>(file));
}

// Seeking into the music opens the file seekable, once its first open as a
// stream has shown it sound; should that open fail, the music is decoded up
// to the place instead (slower, and never tried seekable again).
constexpr ov_callbacks SEEKABLE_CALLBACKS = {readFile, seekFile, nullptr, tellFile};

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

// Output frames for `frames` input frames: one per output position before the
// input's end, so the last output frame still falls within the music.
uint64_t resampledLength(uint64_t frames, int rate) {
    const uint64_t r = static_cast<uint64_t>(rate);
    const uint64_t whole = frames / r * OggMusicSource::OUTPUT_RATE;
    const uint64_t part = frames % r * OggMusicSource::OUTPUT_RATE;
    return whole + (part + r - 1) / r;
}

// A libsoxr resampler from `rate` to the output rate: high quality (pass band
// to 91% of the lower Nyquist frequency, aliasing below -120 dB), linear phase
// (output frame 0 is input frame 0), int16 in and out without dither so that
// the same file always gives the same samples.
soxr_t createResampler(int rate, int channels) {
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_t resampler =
        soxr_create(rate, OggMusicSource::OUTPUT_RATE, static_cast<unsigned>(channels), &error, &io,
                    &quality, &runtime);
    if (error != nullptr) {
        soxr_delete(resampler);
        return nullptr;
    }
    return resampler;
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
    bool seekFailed = false;    // a seekable open failed: seeks decode up to the place
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

    // Resampling: input not yet taken by the resampler (decoded frames or
    // silence, valid until the next nextNative), and output frames counted
    // against the length the music has once its input has ended.
    bool passthrough = true;
    soxr_t resampler = nullptr;
    const int16_t* pending = nullptr;
    size_t pendingFrames = 0;
    uint64_t outputDelivered = 0;
    uint64_t outputLength = 0;  // known once the input has ended
    bool inputDrained = false;  // every input frame went to the resampler
    int16_t mono[BLOCK_FRAMES] = {};

    ~Decoder() {
        soxr_delete(resampler);
        if (vorbisOpen) ov_clear(&vorbis);
        if (file) std::fclose(file);
    }

    // Back to the start of the stream; false if the resampler cannot be made.
    bool resetStream() {
        blockFrames = blockPosition = 0;
        nativeDelivered = silenceOwed = 0;
        holes = 0;
        inputEnded = false;
        stoppedByDamage = false;
        pending = nullptr;
        pendingFrames = 0;
        outputDelivered = outputLength = 0;
        inputDrained = false;
        passthrough = rate == OUTPUT_RATE;
        if (passthrough) return true;
        // A fresh resampler: nothing of the previous pass stays in its filter.
        soxr_delete(resampler);
        resampler = createResampler(rate, channels);
        return resampler != nullptr;
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

    size_t readResampled(int16_t* stereo, size_t frames) {
        const size_t ch = static_cast<size_t>(channels);
        size_t done = 0;
        while (done < frames) {
            if (pendingFrames == 0 && !inputDrained) {
                pendingFrames = nextNative(pending, BLOCK_FRAMES);
                if (pendingFrames == 0) {
                    inputDrained = true;
                    outputLength = resampledLength(nativeDelivered, rate);
                }
            }
            size_t room = std::min(frames - done, BLOCK_FRAMES);
            if (inputDrained) {
                if (outputDelivered >= outputLength) break;
                room =
                    static_cast<size_t>(std::min<uint64_t>(room, outputLength - outputDelivered));
            }
            int16_t* out = ch == 2 ? stereo + 2 * done : mono;
            size_t taken = 0;
            size_t made = 0;
            // No input once it has ended: the resampler then gives out what its filter holds.
            if (soxr_process(resampler, inputDrained ? nullptr : pending, pendingFrames, &taken,
                             out, room, &made) != nullptr) {
                inputDrained = true;  // cannot go on: the music ends here
                outputLength = outputDelivered;
                break;
            }
            pending += taken * ch;
            pendingFrames -= taken;
            if (inputDrained && made == 0) {
                // The filter is empty; the length still owed is silence.
                made = room;
                std::fill(out, out + made * ch, int16_t{0});
            }
            if (ch == 1) {
                for (size_t i = 0; i < made; ++i)
                    stereo[2 * (done + i)] = stereo[2 * (done + i) + 1] = mono[i];
            }
            done += made;
            outputDelivered += made;
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

    if (!d->resetStream()) {
        problem = "Music file " + where + ": cannot set up the conversion of its " +
                  std::to_string(d->rate) + " Hz to " + std::to_string(OUTPUT_RATE) + " Hz";
        return false;
    }
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
    const bool resampling = d.resetStream();
    stoppedByDamage_ = false;
    // Opened again from the start (the same headers, checked at open).
    if (d.vorbisOpen) ov_clear(&d.vorbis);
    d.vorbisOpen = false;
    if (d.rewindable) {
        std::rewind(d.file);
        d.vorbisOpen = ov_open_callbacks(d.file, &d.vorbis, nullptr, 0, STREAM_CALLBACKS) == 0;
    }
    if (!d.vorbisOpen || !resampling) {
        d.inputEnded = true;
        d.inputDrained = true;
        return false;
    }
    return true;
}

bool OggMusicSource::seek(uint64_t frame) {
    if (!rewind()) return false;
    if (frame == 0) return true;
    Decoder& d = *decoder_;
    const uint64_t native = frame * static_cast<uint64_t>(d.rate) / OUTPUT_RATE;
    if (!d.seekFailed) {
        ov_clear(&d.vorbis);
        std::rewind(d.file);
        d.vorbisOpen = ov_open_callbacks(d.file, &d.vorbis, nullptr, 0, SEEKABLE_CALLBACKS) == 0;
        if (d.vorbisOpen && ov_seekable(&d.vorbis) != 0 && ov_streams(&d.vorbis) == 1) {
            if (ov_pcm_seek(&d.vorbis, static_cast<ogg_int64_t>(native)) != 0) {
                // Past the end: nothing more to play.
                d.inputEnded = true;
                d.inputDrained = true;
                return true;
            }
            d.nativeDelivered = native;
            d.outputDelivered = frame;
            return true;
        }
        d.seekFailed = true;
        if (!rewind()) return false;
    }
    int16_t skipped[2 * 1024];
    for (uint64_t left = frame; left > 0;) {
        const size_t got = read(skipped, static_cast<size_t>(std::min<uint64_t>(left, 1024)));
        if (got == 0) break;
        left -= got;
    }
    return true;
}

std::string formatMinutesSeconds(uint64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02u", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}
