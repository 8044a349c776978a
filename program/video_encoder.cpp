#include "program/video_encoder.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <vector>

#include "program/pixel_scaling.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

struct ContainerChoice {
    const char* extension;
    VideoContainer container;
    const char* formatName;  // libavformat's muxer
    const char* videoEncoder;
    AVCodecID videoCodec;  // any encoder of it, if the preferred one is missing
    AVPixelFormat pixelFormat;
    const char* soundEncoder;
    AVCodecID soundCodec;
};

// 0RGB32 is BGR0 in memory on little-endian machines: the picture's own bytes,
// no alpha stored.
const ContainerChoice CONTAINERS[] = {
    {".mp4", VideoContainer::Mp4, "mp4", "libx264", AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, "aac",
     AV_CODEC_ID_AAC},
    {".webm", VideoContainer::WebM, "webm", "libvpx-vp9", AV_CODEC_ID_VP9, AV_PIX_FMT_YUV420P,
     "libopus", AV_CODEC_ID_OPUS},
    {".mkv", VideoContainer::Matroska, "matroska", "ffv1", AV_CODEC_ID_FFV1, AV_PIX_FMT_0RGB32,
     "flac", AV_CODEC_ID_FLAC},
};

const ContainerChoice& choiceFor(VideoContainer container) {
    for (const ContainerChoice& choice : CONTAINERS)
        if (choice.container == container) return choice;
    return CONTAINERS[0];
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

const AVCodec* findEncoder(const char* name, AVCodecID id) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    return codec != nullptr ? codec : avcodec_find_encoder(id);
}

// Encoder settings per codec: fast enough to record faster than the show plays,
// sharp enough for single-pixel glyph edges.
void videoEncoderOptions(const AVCodec& codec, AVDictionary** options) {
    const std::string name = codec.name;
    if (name == "libx264") {
        // Chosen over the whole show: at the console's own size, tuned for flat
        // colours and sharp edges, this keeps the glyph patterns (luma SSIM above
        // 0.99) in under half the bytes of the fastest preset at twice the size, in
        // less time. A key frame every 10 s: the scenes run 12 to 38 s, and seeking
        // stays quick.
        av_dict_set(options, "preset", "faster", 0);
        av_dict_set(options, "tune", "animation", 0);
        av_dict_set(options, "crf", "20", 0);
        av_dict_set(options, "x264-params", "keyint=500", 0);
    } else if (name == "libvpx-vp9") {
        // Real-time mode with constant quality (a bit rate of 0): unlike a fixed
        // bit rate it keeps the glyphs where the whole picture changes. Speed 6
        // still records faster than the show plays on two cores, and is both
        // smaller and sharper than speed 8 at the quality that keeps the glyphs.
        // Two tile columns and row threads keep both cores busy.
        av_dict_set(options, "deadline", "realtime", 0);
        av_dict_set(options, "cpu-used", "6", 0);
        av_dict_set(options, "crf", "30", 0);
        av_dict_set(options, "b", "0", 0);
        av_dict_set(options, "row-mt", "1", 0);
        av_dict_set(options, "tile-columns", "1", 0);
    } else if (name == "ffv1") {
        // Version 3 with checksummed slices: damage stays local and is detected.
        // The range coder with the large context makes the file about five times
        // smaller than the default Golomb-Rice coding on the glyph patterns, at
        // under twice the time. A fixed slice count keeps the bytes independent
        // of the number of cores.
        av_dict_set(options, "level", "3", 0);
        av_dict_set(options, "slicecrc", "1", 0);
        av_dict_set(options, "coder", "1", 0);
        av_dict_set(options, "context", "1", 0);
        av_dict_set(options, "slices", "4", 0);
    }
}

// The sample format the encoder takes: 16-bit when it can (FLAC stays bit-exact),
// else its first.
AVSampleFormat soundFormatFor(const AVCodec& codec) {
    if (codec.sample_fmts == nullptr) return AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_S16) return *f;
    return codec.sample_fmts[0];
}

// The input rate if the encoder takes it, else the lowest higher rate it takes
// (Opus: 48 kHz), else its highest.
int soundRateFor(const AVCodec& codec, int inputRate) {
    if (codec.supported_samplerates == nullptr) return inputRate;
    int best = 0;
    int highest = 0;
    for (const int* r = codec.supported_samplerates; *r != 0; ++r) {
        if (*r == inputRate) return inputRate;
        if (*r > inputRate && (best == 0 || *r < best)) best = *r;
        highest = std::max(highest, *r);
    }
    return best != 0 ? best : highest;
}

}  // namespace

struct VideoEncoder::State {
    VideoSettings settings;
    AVFormatContext* format = nullptr;
    bool headerWritten = false;
    AVPacket* packet = nullptr;

    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    AVFrame* picture = nullptr;
    SwsContext* toPicture = nullptr;  // for RGB: a reordering of the bytes
    std::vector<uint8_t> enlarged;    // the RGBA picture enlarged, for toPicture
    int64_t nextPicture = 0;

    AVCodecContext* sound = nullptr;
    AVStream* soundStream = nullptr;
    AVFrame* soundFrame = nullptr;
    SwrContext* toSound = nullptr;
    AVAudioFifo* pending = nullptr;  // converted samples not yet a whole encoder frame
    uint8_t** converted = nullptr;   // swr output, `convertedCapacity` frames
    int convertedCapacity = 0;
    int64_t nextSample = 0;

    ~State() {
        if (converted != nullptr) av_freep(&converted[0]);
        av_freep(&converted);
        av_audio_fifo_free(pending);
        swr_free(&toSound);
        av_frame_free(&soundFrame);
        avcodec_free_context(&sound);
        sws_freeContext(toPicture);
        av_frame_free(&picture);
        avcodec_free_context(&video);
        av_packet_free(&packet);
        if (format != nullptr) {
            if (format->pb != nullptr) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    bool openVideo(const ContainerChoice& choice, std::string& error);
    bool openSound(const ContainerChoice& choice, std::string& error);
    bool growConverted(int frames, std::string& error);
    bool encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame, std::string& error);
    bool encodePendingSound(bool last, std::string& error);
};

bool VideoEncoder::State::openVideo(const ContainerChoice& choice, std::string& error) {
    const AVCodec* codec = findEncoder(choice.videoEncoder, choice.videoCodec);
    if (codec == nullptr) {
        error =
            std::string("this FFmpeg has no ") + avcodec_get_name(choice.videoCodec) + " encoder";
        return false;
    }
    video = avcodec_alloc_context3(codec);
    if (video == nullptr) return false;
    video->width = settings.width * settings.scale;
    video->height = settings.height * settings.scale;
    video->pix_fmt = choice.pixelFormat;
    video->time_base = AVRational{1, settings.framesPerSecond};
    video->framerate = AVRational{settings.framesPerSecond, 1};
    video->sample_aspect_ratio = AVRational{1, 1};
    video->thread_count = 0;  // as many as the machine has
    if (choice.pixelFormat == AV_PIX_FMT_YUV420P) {
        // Tagged as what it is, so that players convert back with the same matrix.
        video->colorspace = AVCOL_SPC_BT709;
        video->color_primaries = AVCOL_PRI_BT709;
        video->color_trc = AVCOL_TRC_BT709;
        video->color_range = AVCOL_RANGE_MPEG;
    } else {
        video->gop_size = 1;  // every frame a key frame: an archive seeks exactly
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* options = nullptr;
    videoEncoderOptions(*codec, &options);
    const int opened = avcodec_open2(video, codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error = std::string("cannot start the ") + codec->name + " encoder: " + errorText(opened);
        return false;
    }
    videoStream = avformat_new_stream(format, nullptr);
    if (videoStream == nullptr || avcodec_parameters_from_context(videoStream->codecpar, video) < 0)
        return false;
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = video->framerate;
    videoStream->disposition = AV_DISPOSITION_DEFAULT;

    picture = av_frame_alloc();
    if (picture == nullptr) return false;
    picture->format = video->pix_fmt;
    picture->width = video->width;
    picture->height = video->height;
    if (av_frame_get_buffer(picture, 0) < 0) return false;
    // 4:2:0 pictures are enlarged and converted in one pass (pixel_scaling.h).
    if (choice.pixelFormat == AV_PIX_FMT_YUV420P) return true;
    // The lossless format is a reordering of the bytes, done exactly, after enlarging.
    if (settings.scale > 1) enlarged.resize(size_t(video->width) * size_t(video->height) * 4);
    toPicture = sws_getContext(
        video->width, video->height, AV_PIX_FMT_RGBA, video->width, video->height, video->pix_fmt,
        SWS_POINT | SWS_BITEXACT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (toPicture == nullptr) {
        error = "cannot convert pictures to the video's pixel format";
        return false;
    }
    return true;
}

bool VideoEncoder::State::openSound(const ContainerChoice& choice, std::string& error) {
    const AVCodec* codec = findEncoder(choice.soundEncoder, choice.soundCodec);
    if (codec == nullptr) {
        error =
            std::string("this FFmpeg has no ") + avcodec_get_name(choice.soundCodec) + " encoder";
        return false;
    }
    sound = avcodec_alloc_context3(codec);
    if (sound == nullptr) return false;
    sound->sample_fmt = soundFormatFor(*codec);
    sound->sample_rate = soundRateFor(*codec, settings.soundRate);
    av_channel_layout_default(&sound->ch_layout, 2);
    sound->time_base = AVRational{1, sound->sample_rate};
    if (choice.soundCodec == AV_CODEC_ID_AAC) sound->bit_rate = 192000;
    if (choice.soundCodec == AV_CODEC_ID_OPUS) sound->bit_rate = 160000;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) sound->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = avcodec_open2(sound, codec, nullptr);
    if (opened < 0) {
        error = std::string("cannot start the ") + codec->name + " encoder: " + errorText(opened);
        return false;
    }
    soundStream = avformat_new_stream(format, nullptr);
    if (soundStream == nullptr || avcodec_parameters_from_context(soundStream->codecpar, sound) < 0)
        return false;
    soundStream->time_base = sound->time_base;
    soundStream->disposition = AV_DISPOSITION_DEFAULT;

    AVChannelLayout input;
    av_channel_layout_default(&input, settings.soundChannels);
    const int made =
        swr_alloc_set_opts2(&toSound, &sound->ch_layout, sound->sample_fmt, sound->sample_rate,
                            &input, AV_SAMPLE_FMT_S16, settings.soundRate, 0, nullptr);
    av_channel_layout_uninit(&input);
    if (made < 0 || swr_init(toSound) < 0) {
        error = "cannot convert the music to the sound track's format";
        return false;
    }
    // Encoders that take any frame length get the length FLAC uses at this rate.
    const int frameSize = sound->frame_size > 0 ? sound->frame_size : 4608;
    soundFrame = av_frame_alloc();
    pending = av_audio_fifo_alloc(sound->sample_fmt, 2, std::max(sound->sample_rate, frameSize));
    if (soundFrame == nullptr || pending == nullptr) return false;
    soundFrame->format = sound->sample_fmt;
    soundFrame->sample_rate = sound->sample_rate;
    soundFrame->nb_samples = frameSize;
    if (av_channel_layout_copy(&soundFrame->ch_layout, &sound->ch_layout) < 0 ||
        av_frame_get_buffer(soundFrame, 0) < 0)
        return false;
    return growConverted(sound->sample_rate, error);
}

bool VideoEncoder::State::growConverted(int frames, std::string& error) {
    if (frames <= convertedCapacity) return true;
    if (converted != nullptr) av_freep(&converted[0]);
    av_freep(&converted);
    convertedCapacity = 0;
    if (av_samples_alloc_array_and_samples(&converted, nullptr, 2, frames, sound->sample_fmt, 0) <
        0) {
        error = "out of memory";
        return false;
    }
    convertedCapacity = frames;
    return true;
}

// Sends one frame (or, with null, the end) to an encoder and writes every packet
// it gives back.
bool VideoEncoder::State::encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame,
                                 std::string& error) {
    int status = avcodec_send_frame(codec, frame);
    while (status >= 0) {
        status = avcodec_receive_packet(codec, packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) break;
        if (status < 0) break;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        status = av_interleaved_write_frame(format, packet);
        if (status >= 0 && format->pb != nullptr && format->pb->error < 0)
            status = format->pb->error;
    }
    if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
        error = errorText(status);
        return false;
    }
    return true;
}

// Encodes whole encoder frames from the pending samples; with `last`, also the
// rest, as a short frame where the encoder takes one, else padded with silence.
bool VideoEncoder::State::encodePendingSound(bool last, std::string& error) {
    const int frameSize = soundFrame->nb_samples > 0 ? soundFrame->nb_samples : 1;
    while (av_audio_fifo_size(pending) >= frameSize || (last && av_audio_fifo_size(pending) > 0)) {
        const int available = av_audio_fifo_size(pending);
        const int count = std::min(available, frameSize);
        if (av_frame_make_writable(soundFrame) < 0) {
            error = "out of memory";
            return false;
        }
        if (av_audio_fifo_read(pending, reinterpret_cast<void**>(soundFrame->data), count) !=
            count) {
            error = "lost sound samples";
            return false;
        }
        const bool shortAllowed = sound->codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME |
                                                                AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        if (count < frameSize && !shortAllowed) {
            av_samples_set_silence(soundFrame->data, count, frameSize - count, 2,
                                   sound->sample_fmt);
        } else {
            soundFrame->nb_samples = count;
        }
        soundFrame->pts = nextSample;
        nextSample += soundFrame->nb_samples;
        const bool sent = encode(sound, soundStream, soundFrame, error);
        soundFrame->nb_samples = frameSize;
        if (!sent) return false;
    }
    return true;
}

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::open(const std::string& path, const VideoSettings& settings,
                        std::string& error) {
    // Failures are reported by the caller, in one line; the libraries' own notes
    // (encoder statistics) are not for the user.
    av_log_set_level(AV_LOG_QUIET);
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.settings = settings;
    const ContainerChoice& choice = choiceFor(settings.container);
    error = "out of memory";
    if (avformat_alloc_output_context2(&s.format, nullptr, choice.formatName, path.c_str()) < 0 ||
        s.format == nullptr) {
        error = std::string("this FFmpeg cannot write ") + choice.formatName + " files";
        return false;
    }
    s.packet = av_packet_alloc();
    if (s.packet == nullptr) return false;
    if (!s.openVideo(choice, error)) return false;
    if (settings.sound && !s.openSound(choice, error)) return false;

    const int opened = avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) {
        error = errorText(opened);
        return false;
    }
    AVDictionary* options = nullptr;
    // The index first, so that a browser can start playing before the whole file is there.
    if (settings.container == VideoContainer::Mp4)
        av_dict_set(&options, "movflags", "+faststart", 0);
    const int header = avformat_write_header(s.format, &options);
    av_dict_free(&options);
    if (header < 0) {
        error = errorText(header);
        return false;
    }
    s.headerWritten = true;
    error.clear();
    return true;
}

bool VideoEncoder::writeFrame(const uint8_t* rgba, size_t pitch, std::string& error) {
    State& s = *state_;
    if (av_frame_make_writable(s.picture) < 0) {
        error = "out of memory";
        return false;
    }
    const int scale = s.settings.scale;
    if (s.toPicture == nullptr) {
        const Yuv420Planes planes{
            {s.picture->data[0], s.picture->data[1], s.picture->data[2]},
            {s.picture->linesize[0], s.picture->linesize[1], s.picture->linesize[2]}};
        scalePictureToYuv420(rgba, pitch, s.settings.width, s.settings.height, scale, planes);
    } else {
        if (scale > 1) {
            const size_t enlargedPitch = size_t(s.video->width) * 4;
            scalePicture(rgba, pitch, s.settings.width, s.settings.height, scale, s.enlarged.data(),
                         enlargedPitch);
            rgba = s.enlarged.data();
            pitch = enlargedPitch;
        }
        const uint8_t* const planes[1] = {rgba};
        const int strides[1] = {int(pitch)};
        sws_scale(s.toPicture, planes, strides, 0, s.video->height, s.picture->data,
                  s.picture->linesize);
    }
    s.picture->pts = s.nextPicture++;
    return s.encode(s.video, s.videoStream, s.picture, error);
}

bool VideoEncoder::writeSound(const int16_t* samples, size_t frames, std::string& error) {
    State& s = *state_;
    if (s.sound == nullptr || frames == 0) return true;
    if (frames > size_t(INT_MAX / 4)) {
        error = "too many sound samples at once";
        return false;
    }
    if (!s.growConverted(swr_get_out_samples(s.toSound, int(frames)), error)) return false;
    const uint8_t* input[1] = {reinterpret_cast<const uint8_t*>(samples)};
    const int got = swr_convert(s.toSound, s.converted, s.convertedCapacity, input, int(frames));
    if (got < 0 ||
        av_audio_fifo_write(s.pending, reinterpret_cast<void**>(s.converted), got) < got) {
        error = "cannot convert the music";
        return false;
    }
    return s.encodePendingSound(false, error);
}

bool VideoEncoder::finish(std::string& error) {
    State& s = *state_;
    if (s.sound != nullptr) {
        // What the resampler still holds, then the last short frame, then the end.
        const int got = swr_convert(s.toSound, s.converted, s.convertedCapacity, nullptr, 0);
        if (got < 0 ||
            av_audio_fifo_write(s.pending, reinterpret_cast<void**>(s.converted), got) < got) {
            error = "cannot convert the music";
            return false;
        }
        if (!s.encodePendingSound(true, error) || !s.encode(s.sound, s.soundStream, nullptr, error))
            return false;
    }
    if (!s.encode(s.video, s.videoStream, nullptr, error)) return false;
    const int trailer = av_write_trailer(s.format);
    if (trailer < 0) {
        error = errorText(trailer);
        return false;
    }
    const int closed = avio_closep(&s.format->pb);
    if (closed < 0) {
        error = errorText(closed);
        return false;
    }
    return true;
}

std::string VideoEncoder::codecNames() const {
    if (!state_ || state_->video == nullptr) return "";
    std::string names = state_->video->codec->name;
    if (state_->sound != nullptr) names += std::string(" + ") + state_->sound->codec->name;
    return names;
}
