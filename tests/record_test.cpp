// Recordings of the show: the options, then real recordings made by the program
// in a child process and read back with the FFmpeg libraries, and recordings that
// fail or are interrupted.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include "platform/ogg_decoder.h"
#include "platform/png_file.h"
#include "program/options.h"
#include "program/pixel_scaling.h"
#include "program/record.h"
#include "program/record_progress.h"
#include "tests/show_cell_frames.h"
#include "tests/vterm_screen.h"

namespace fs = std::filesystem;

namespace {

OptionsResult parse(std::vector<const char*> args, Options& options, std::string& message) {
    args.insert(args.begin(), "vornak");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, message);
}

const std::string PROGRAM = std::string(VORNAK_BINARY_DIR) + "/vornak";
const std::string MUSIC = std::string(VORNAK_BINARY_DIR) + "/vornak.ogg";

// Runs a shell command; answers its exit status, with its output in `output`.
int runCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program in `directory` (where it looks for its music), after a shell
// `prefix`; answers the exit status, with standard output and error in `errors`.
int runProgramIn(const std::string& directory, const std::string& arguments, std::string& errors,
                 const std::string& prefix = "") {
    return runCommand(
        "cd '" + directory + "' && " + prefix + " '" + PROGRAM + "' " + arguments + " 2>&1",
        errors);
}

// A fresh folder for one test's files, apart from a suite run at the same time.
std::string freshFolder(const char* name) {
    const std::string folder =
        testing::TempDir() + "vornak-record-" + name + "-" + std::to_string(getpid());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Files in `folder` other than `keep`: temporary leftovers.
std::vector<std::string> otherFiles(const std::string& folder, const std::string& keep = "") {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != keep) names.push_back(entry.path().filename());
    return names;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The whole music as the show plays it: 44.1 kHz interleaved stereo.
std::vector<int16_t> readMusic() {
    OggMusicSource source;
    std::string problem;
    std::vector<int16_t> samples;
    if (!source.open(MUSIC.c_str(), problem)) return samples;
    int16_t block[4096 * 2];
    size_t got;
    while ((got = source.read(block, 4096)) > 0)
        samples.insert(samples.end(), block, block + got * 2);
    return samples;
}

struct DecodedVideo {
    std::string videoCodec, soundCodec;
    int width = 0, height = 0;
    AVRational frameRate{0, 1};
    std::vector<std::vector<uint8_t>> frames;  // packed pixels of the decoder's format
    std::vector<int64_t> frameMs;              // presentation time of each frame
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    std::vector<int16_t> samples;  // interleaved, when the sound is 16-bit
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int sampleRate = 0, channels = 0;
    int64_t soundFrames = 0;
};

// Reads every frame of a video file with libavformat and libavcodec.
bool decodeVideoFile(const std::string& path, DecodedVideo& out) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = avformat_find_stream_info(format, nullptr) >= 0;
    AVCodecContext* decoders[8] = {};
    for (unsigned i = 0; ok && i < format->nb_streams && i < 8; ++i) {
        const AVCodecParameters* parameters = format->streams[i]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        decoders[i] = avcodec_alloc_context3(codec);
        ok = codec != nullptr && decoders[i] != nullptr &&
             avcodec_parameters_to_context(decoders[i], parameters) >= 0 &&
             (decoders[i]->pkt_timebase = format->streams[i]->time_base, true) &&
             avcodec_open2(decoders[i], codec, nullptr) >= 0;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
            out.videoCodec = codec->name;
            out.width = parameters->width;
            out.height = parameters->height;
            out.frameRate = format->streams[i]->avg_frame_rate;
        } else {
            out.soundCodec = codec->name;
            out.sampleRate = parameters->sample_rate;
            out.channels = parameters->ch_layout.nb_channels;
        }
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto take = [&](unsigned index) {
        AVCodecContext* decoder = decoders[index];
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
                out.pixelFormat = AVPixelFormat(frame->format);
                const int bytes =
                    av_image_get_buffer_size(out.pixelFormat, frame->width, frame->height, 1);
                std::vector<uint8_t> pixels(size_t(std::max(bytes, 0)));
                av_image_copy_to_buffer(pixels.data(), bytes, frame->data, frame->linesize,
                                        out.pixelFormat, frame->width, frame->height, 1);
                out.frames.push_back(std::move(pixels));
                out.frameMs.push_back(av_rescale_q(frame->best_effort_timestamp,
                                                   format->streams[index]->time_base, {1, 1000}));
            } else {
                out.sampleFormat = AVSampleFormat(frame->format);
                out.soundFrames += frame->nb_samples;
                if (out.sampleFormat == AV_SAMPLE_FMT_S16) {
                    const int16_t* samples = reinterpret_cast<const int16_t*>(frame->data[0]);
                    out.samples.insert(out.samples.end(), samples,
                                       samples + frame->nb_samples * frame->ch_layout.nb_channels);
                }
            }
            av_frame_unref(frame);
        }
    };
    while (ok && av_read_frame(format, packet) >= 0) {
        const unsigned index = unsigned(packet->stream_index);
        if (index < 8 && decoders[index] != nullptr) {
            ok = avcodec_send_packet(decoders[index], packet) >= 0;
            take(index);
        }
        av_packet_unref(packet);
    }
    for (unsigned i = 0; i < 8; ++i) {
        if (decoders[i] == nullptr) continue;
        avcodec_send_packet(decoders[i], nullptr);
        take(i);
        avcodec_free_context(&decoders[i]);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return ok;
}

}  // namespace

TEST(RecordOptions, RecordTakesAKnownContainerAndItsOwnSettings) {
    Options options;
    std::string message;
    EXPECT_EQ(parse({"--record", "out/Show.MKV", "--scale", "3", "--from", "1000", "--to", "2000",
                     "--no-sound"},
                    options, message),
              OptionsResult::Run)
        << message;
    EXPECT_EQ(options.mode, RunMode::Record);
    EXPECT_EQ(options.recordFile, "out/Show.MKV");
    EXPECT_EQ(options.recordScale, 3);
    EXPECT_EQ(options.recordFrom, 1000u);
    EXPECT_EQ(options.recordTo, 2000u);
    EXPECT_TRUE(options.noSound);

    // An unknown extension names the ones there are.
    for (const char* file : {"show.avi", "show", "mp4", "dir.mp4/show", ".mkv"}) {
        Options bad;
        EXPECT_EQ(parse({"--record", file}, bad, message), OptionsResult::Error) << file;
        EXPECT_NE(message.find(".mp4"), std::string::npos) << message;
        EXPECT_NE(message.find(".webm"), std::string::npos) << message;
        EXPECT_NE(message.find(".mkv"), std::string::npos) << message;
        EXPECT_NE(message.find(".cast"), std::string::npos) << message;
    }
    const std::vector<std::vector<const char*>> wrong = {
        {"--record"},
        {"--record", "a.mp4", "--scale", "0"},
        {"--record", "a.mp4", "--scale", "9"},
        {"--record", "a.mp4", "--scale", "2x"},
        {"--record", "a.cast", "--scale", "2"},
        {"--record", "a.mp4", "--from", "-5"},
        {"--record", "a.mp4", "--from", "2000", "--to", "2000"},
        {"--record", "a.mp4", "--from", "173021"},
        {"--scale", "2"},
        {"--to", "100"},
        {"--record", "a.mp4", "--digest"},
        {"--record", "a.mp4", "--render", "dir", "--at", "0"},
    };
    for (const auto& args : wrong) {
        Options bad;
        EXPECT_EQ(parse(args, bad, message), OptionsResult::Error) << args[0] << " " << args.size();
    }
}

TEST(RecordOptions, StretchHoldsTheFrameTimesFromBeforeTo) {
    uint32_t first = 0, last = 0;
    ASSERT_TRUE(recordStretch(0, UINT32_MAX, first, last));
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(last, 173020u);  // the first frame past the end of the timeline
    ASSERT_TRUE(recordStretch(1001, 1400, first, last));
    EXPECT_EQ(first, 1020u);
    EXPECT_EQ(last, 1380u);
    ASSERT_TRUE(recordStretch(173020, 173021, first, last));
    EXPECT_EQ(first, 173020u);
    EXPECT_EQ(last, 173020u);
    EXPECT_FALSE(recordStretch(1001, 1020, first, last));
    EXPECT_FALSE(recordStretch(173021, UINT32_MAX, first, last));

    // Each 20 ms frame holds 882 sound frames at 44.1 kHz, with no rounding drift.
    EXPECT_EQ(soundFrameAt(20, 44100), 882u);
    EXPECT_EQ(soundFrameAt(173040, 44100), 173040u * 441u / 10u);
    EXPECT_EQ(soundFrameAt(4000000000u, 48000), 192000000000u);
}

// The one-pass 4:2:0 conversion: the enlarged picture's pixels in BT.709 limited
// range, colour as the mean of 2x2 (edges repeated), at odd and even scales.
TEST(PixelScaling, Yuv420IsTheEnlargedPictureConverted) {
    std::vector<uint8_t> picture(5 * 3 * 4);
    uint32_t seed = 7;
    for (uint8_t& byte : picture) byte = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    const double toYuv[3][5] = {{0.2126, 0.7152, 0.0722, 16, 219},
                                {-0.2126 / 1.8556, -0.7152 / 1.8556, 0.5, 128, 224},
                                {0.5, -0.7152 / 1.5748, -0.0722 / 1.5748, 128, 224}};
    for (const int scale : {1, 2, 3, 4}) {
        const int w = 5 * scale, h = 3 * scale, cw = (w + 1) / 2, ch = (h + 1) / 2;
        std::vector<uint8_t> planes[3] = {std::vector<uint8_t>(size_t(w) * h),
                                          std::vector<uint8_t>(size_t(cw) * ch),
                                          std::vector<uint8_t>(size_t(cw) * ch)};
        scalePictureToYuv420(picture.data(), 5 * 4, 5, 3, scale,
                             {{planes[0].data(), planes[1].data(), planes[2].data()}, {w, cw, cw}});
        for (int plane = 0; plane < 3; ++plane) {
            const int span = plane == 0 ? 1 : 2, planeWidth = plane == 0 ? w : cw;
            for (size_t i = 0; i < planes[plane].size(); ++i) {
                double sum = toYuv[plane][3] * 255 / toYuv[plane][4] * span * span;
                for (int d = 0; d < span * span; ++d) {
                    const int x = std::min(int(i) % planeWidth * span + d % span, w - 1) / scale;
                    const int y = std::min(int(i) / planeWidth * span + d / span, h - 1) / scale;
                    for (int c = 0; c < 3; ++c)
                        sum += toYuv[plane][c] * picture[(y * 5 + x) * 4 + c];
                }
                ASSERT_EQ(planes[plane][i], std::lround(sum / span / span * toYuv[plane][4] / 255))
                    << "scale " << scale << " plane " << plane << " sample " << i;
            }
        }
    }
}

TEST(RecordOptions, ProgressTextCountsFramesAndTimeLeft) {
    // Percent and time left follow the show's frames, also those run before a stretch.
    EXPECT_EQ(recordProgressText({0, 8653, 0, 8652, 0}), "    0%  frame 0 of 8652");
    EXPECT_EQ(recordProgressText({4000, 8000, 3999, 8000, 10}),
              "   50%  frame 3999 of 8000  400 fps  0:10 left");
    EXPECT_EQ(recordProgressText({9000, 8000, 8000, 8000, 20}),
              "  100%  frame 8000 of 8000  400 fps  0:00 left");
    EXPECT_EQ(recordProgressText({100, 8000, 0, 50, 100}),
              "    1%  frame 0 of 50  1 fps  131:40 left");
}

// The lossless recording holds the console look of every moment byte for byte and
// the music sample for sample, 50 frames a second, from the doubled first moment on.
TEST(Record, LosslessStretchEqualsTheConsoleLookAndTheMusic) {
    const std::string folder = freshFolder("lossless");
    const std::string video = folder + "/stretch.mkv";
    std::string errors;
    ASSERT_EQ(runProgramIn(VORNAK_BINARY_DIR, "--record '" + video + "' --to 600", errors), 0)
        << errors;
    EXPECT_NE(errors.find("recorded " + video + ": 0:00.600 of the show"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find('\r'), std::string::npos) << "no progress line off a terminal";
    std::string times;
    for (int ms = 0; ms < 600; ms += 20) {
        if (ms > 0) times += ',';
        times += std::to_string(ms);
    }
    ASSERT_EQ(
        runProgramIn(VORNAK_BINARY_DIR, "--render '" + folder + "/look' --at " + times, errors), 0)
        << errors;

    DecodedVideo decoded;
    ASSERT_TRUE(decodeVideoFile(video, decoded));
    EXPECT_EQ(decoded.videoCodec, "ffv1");
    EXPECT_EQ(decoded.width, 640);
    EXPECT_EQ(decoded.height, 600);
    EXPECT_EQ(decoded.frameRate.num, 50);
    EXPECT_EQ(decoded.frameRate.den, 1);
    ASSERT_EQ(decoded.pixelFormat, AV_PIX_FMT_BGR0);
    ASSERT_EQ(decoded.frames.size(), 30u);
    int changes = 0;
    for (size_t i = 0; i < decoded.frames.size(); ++i) {
        EXPECT_EQ(decoded.frameMs[i], int64_t(i) * 20) << "frame " << i;
        RgbaImage look;
        ASSERT_TRUE(readPngRgba(folder + "/look/" + std::to_string(i * 20) + ".png", look));
        const std::vector<uint8_t>& frame = decoded.frames[i];
        ASSERT_EQ(frame.size(), look.pixels.size());
        size_t differing = 0;
        for (size_t p = 0; p < frame.size(); p += 4) {
            differing += frame[p] != look.pixels[p + 2] || frame[p + 1] != look.pixels[p + 1] ||
                         frame[p + 2] != look.pixels[p];
        }
        EXPECT_EQ(differing, 0u) << "pixels differ in the frame of " << i * 20 << " ms";
        if (i > 0) changes += frame != decoded.frames[i - 1];
    }
    // A shifted or repeated frame shows only where the pictures move.
    EXPECT_GT(changes, 10);

    const std::vector<int16_t> music = readMusic();
    ASSERT_FALSE(music.empty());
    EXPECT_EQ(decoded.soundCodec, "flac");
    EXPECT_EQ(decoded.sampleRate, 44100);
    EXPECT_EQ(decoded.channels, 2);
    ASSERT_EQ(decoded.sampleFormat, AV_SAMPLE_FMT_S16);
    ASSERT_EQ(decoded.soundFrames, 600 * 441 / 10);
    EXPECT_TRUE(std::equal(decoded.samples.begin(), decoded.samples.end(), music.begin()));
    fs::remove_all(folder);
}

// A stretch from the middle starts the video and the music at its first moment.
TEST(Record, StretchFromTheMiddleStartsWithItsMoment) {
    const std::string folder = freshFolder("middle");
    std::string errors;
    ASSERT_EQ(runProgramIn(VORNAK_BINARY_DIR,
                           "--record '" + folder + "/m.mkv' --from 1990 --to 2050", errors),
              0)
        << errors;
    ASSERT_EQ(runProgramIn(VORNAK_BINARY_DIR, "--render '" + folder + "' --at 2000", errors), 0);
    DecodedVideo decoded;
    ASSERT_TRUE(decodeVideoFile(folder + "/m.mkv", decoded));
    ASSERT_EQ(decoded.frames.size(), 3u);  // 2000, 2020, 2040
    EXPECT_EQ(decoded.frameMs[0], 0);
    RgbaImage look;
    ASSERT_TRUE(readPngRgba(folder + "/2000.png", look));
    for (size_t p = 0; p < look.pixels.size(); p += 4)
        ASSERT_EQ(decoded.frames[0][p], look.pixels[p + 2]) << p;

    const std::vector<int16_t> music = readMusic();
    ASSERT_FALSE(music.empty());
    ASSERT_EQ(decoded.soundFrames, 60 * 441 / 10);
    const size_t start = 2000 * 441 / 10 * 2;
    EXPECT_TRUE(std::equal(decoded.samples.begin(), decoded.samples.end(),
                           music.begin() + std::ptrdiff_t(start)));
    fs::remove_all(folder);
}

// A GIF clip holds the console look of every moment of its stretch exactly, each
// frame 2/100 s, without sound and without needing the music.
TEST(Record, GifClipEqualsTheConsoleLook) {
    const std::string folder = freshFolder("gif");
    std::string errors;
    ASSERT_EQ(runProgramIn(folder, "--record clip.gif --from 15000 --to 15200", errors), 0)
        << errors;
    EXPECT_EQ(otherFiles(folder, "clip.gif"), std::vector<std::string>{});
    ASSERT_EQ(runProgramIn(folder, "--render look --at 15000,15100,15180", errors), 0) << errors;
    DecodedVideo decoded;
    ASSERT_TRUE(decodeVideoFile(folder + "/clip.gif", decoded));
    EXPECT_EQ(decoded.videoCodec, "gif");
    EXPECT_TRUE(decoded.soundCodec.empty());
    ASSERT_EQ(decoded.pixelFormat, AV_PIX_FMT_BGRA);
    ASSERT_EQ(decoded.frames.size(), 10u);
    for (const size_t i : {size_t(0), size_t(5), size_t(9)}) {
        EXPECT_EQ(decoded.frameMs[i], int64_t(i) * 20) << "frame " << i;
        RgbaImage look;
        ASSERT_TRUE(readPngRgba(folder + "/look/" + std::to_string(15000 + i * 20) + ".png", look));
        const std::vector<uint8_t>& frame = decoded.frames[i];
        ASSERT_EQ(frame.size(), look.pixels.size());
        size_t differing = 0;
        for (size_t p = 0; p < frame.size(); p += 4)
            differing += frame[p] != look.pixels[p + 2] || frame[p + 1] != look.pixels[p + 1] ||
                         frame[p + 2] != look.pixels[p];
        EXPECT_EQ(differing, 0u) << "pixels differ in the frame of " << 15000 + i * 20 << " ms";
    }
    fs::remove_all(folder);
}

// A cast of the first ten seconds, read back by asciinema's own reader as
// `asciinema cat` does it, fed to a terminal emulator up to each frame's time,
// shows that frame's cells; at the end the terminal has the start-up lines back.
TEST(Record, CastReplaysToTheShowsCellsAtEveryFrame) {
    if (std::system("/usr/bin/python3 -c 'import asciinema' 2>/dev/null") != 0)
        GTEST_SKIP() << "no asciinema";
    const std::string folder = freshFolder("cast");
    std::string errors, events;
    ASSERT_EQ(runProgramIn(folder, "--record show.cast --to 10000", errors), 0) << errors;
    EXPECT_NE(errors.find("0:10.000 of the show (asciicast, 24-bit colour)"), std::string::npos)
        << errors;
    EXPECT_EQ(otherFiles(folder, "show.cast"), std::vector<std::string>{});
    EXPECT_EQ(readAll(folder + "/show.cast")
                  .rfind("{\"version\": 2, \"width\": 80, \"height\": 50, "
                         "\"env\": {\"TERM\": \"xterm-256color\"}",
                         0),
              0u);
    ASSERT_EQ(runCommand("/usr/bin/python3 -c 'import sys; from asciinema import asciicast\n"
                         "with asciicast.open_from_url(sys.argv[1]) as cast:\n"
                         "    for time, _, text in cast.stdout_events():\n"
                         "        b = text.encode(); sys.stdout.buffer.write(b\"%d %d \" % "
                         "(round(time * 1000), len(b)) + b)' " +
                             folder + "/show.cast",
                         events),
              0);
    Emulator emulator(50, 80);
    size_t at = 0;
    auto feedUntil = [&](long long ms) {
        long long time = 0;
        size_t length = 0;
        int taken = 0;
        while (at < events.size() &&
               std::sscanf(events.c_str() + at, "%lld %zu %n", &time, &length, &taken) == 2 &&
               time <= ms) {
            emulator.feed(std::string_view(events).substr(at + size_t(taken), length));
            at += size_t(taken) + length;
        }
    };
    int wrongFrames = 0;
    ASSERT_TRUE(forEachShowFrame(
        [&](const uint8_t* cells, uint32_t frame) {
            feedUntil(frame < 2 ? 0 : (frame - 2) * 20);
            bool right = true, single = true;
            for (int i = 0; i < 80 * 50; ++i)
                right = right && emulator.look(i / 80, i % 80, single) ==
                                     cellLook(TerminalColors::TrueColor, cells + i * 4);
            wrongFrames += !right;
        },
        501));
    EXPECT_EQ(wrongFrames, 0);
    feedUntil(10000);
    EXPECT_EQ(at, events.size());
    std::u32string shown;
    for (int i = 0; i < 80 * 2; ++i) shown += emulator.character(i / 80, i % 80);
    EXPECT_EQ(shown.find(U"Initialize VORNAK... "), 0u);
    EXPECT_EQ(shown.find(U"Start in 3 seconds..."), 80u);
    fs::remove_all(folder);
}

// Every container decodes without an error in FFmpeg's own decoders, with the
// codecs browsers play for the lossy ones, and keeps the look of the frame: the
// lossy ones at the console's size by default, their luma within a few steps of
// the console look's on average; the lossless one enlarged when asked, exactly.
TEST(Record, VideosDecodeCleanlyAndKeepTheLook) {
    const std::string folder = freshFolder("lossy");
    std::string errors;
    ASSERT_EQ(runProgramIn(VORNAK_BINARY_DIR, "--render '" + folder + "' --at 3000", errors), 0)
        << errors;
    RgbaImage look;
    ASSERT_TRUE(readPngRgba(folder + "/3000.png", look));
    const struct {
        const char* file;
        const char* options;
        const char* streams;
        const char* sound;
        int soundRate;
        int scale;
    } cases[] = {
        {"s.mp4", "", "codec_name=h264|width=640|height=600|pix_fmt=yuv420p", "aac", 44100, 1},
        {"s.webm", "", "codec_name=vp9|width=640|height=600|pix_fmt=yuv420p", "opus", 48000, 1},
        {"s.mkv", "--scale 2", "codec_name=ffv1|width=1280|height=1200|pix_fmt=bgr0", "flac", 44100,
         2},
    };
    for (const auto& c : cases) {
        const std::string path = folder + "/" + c.file;
        ASSERT_EQ(
            runProgramIn(VORNAK_BINARY_DIR,
                         "--record '" + path + "' --from 3000 --to 3400 " + c.options, errors),
            0)
            << errors;
        std::string output;
        EXPECT_EQ(runCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1", output),
                  0);
        EXPECT_EQ(output, "") << c.file;
        std::string streams;
        EXPECT_EQ(runCommand("ffprobe -v error -show_entries stream=codec_name,width,height,"
                             "pix_fmt,avg_frame_rate,sample_rate,channels -of compact '" +
                                 path + "'",
                             streams),
                  0);
        EXPECT_NE(streams.find(c.streams), std::string::npos) << streams;
        EXPECT_NE(streams.find("avg_frame_rate=50/1"), std::string::npos) << streams;
        EXPECT_NE(streams.find(std::string("codec_name=") + c.sound +
                               "|sample_rate=" + std::to_string(c.soundRate) + "|channels=2"),
                  std::string::npos)
            << streams;
        DecodedVideo decoded;
        ASSERT_TRUE(decodeVideoFile(path, decoded)) << c.file;
        ASSERT_EQ(decoded.frames.size(), 20u) << c.file;
        const std::vector<uint8_t>& frame = decoded.frames[0];
        const size_t width = size_t(look.width * c.scale), pixels = width * look.height * c.scale;
        double lumaError = 0;
        size_t differing = 0;
        for (size_t at = 0; at < pixels; ++at) {
            const uint8_t* p =
                &look.pixels[(at / width / c.scale * look.width + at % width / c.scale) * 4];
            if (decoded.pixelFormat == AV_PIX_FMT_BGR0)
                differing +=
                    frame[at * 4] != p[2] || frame[at * 4 + 1] != p[1] || frame[at * 4 + 2] != p[0];
            else
                lumaError += std::abs(
                    frame[at] - (16 + (0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]) * 219 / 255));
        }
        EXPECT_EQ(differing, 0u) << c.file;
        EXPECT_LT(lumaError / double(pixels), 3.0) << c.file;
    }
    fs::remove_all(folder);
}

// Failing recordings say why and leave no file behind; a file of the same name
// stays as it was. A missing or damaged music file fails with the show's own
// start-up line, unless the recording is asked to be silent.
TEST(Record, FailuresLeaveNothingBehind) {
    const std::string folder = freshFolder("fail");
    std::string errors;
    EXPECT_EQ(runProgramIn(VORNAK_BINARY_DIR, "--record '" + folder + "/x.avi'", errors), 2);
    EXPECT_NE(errors.find("must end in .mp4"), std::string::npos) << errors;

    EXPECT_EQ(
        runProgramIn(VORNAK_BINARY_DIR, "--record '" + folder + "/no/x.mkv' --to 100", errors), 1);
    EXPECT_NE(errors.find("cannot write in the folder '" + folder + "/no': No such file"),
              std::string::npos)
        << errors;
    EXPECT_EQ(runProgramIn(VORNAK_BINARY_DIR, "--record '" + folder + "' --to 100", errors), 2);

    // No music where the program looks: a copy of it in a folder of its own.
    fs::create_directories(folder + "/bin");
    fs::copy_file(PROGRAM, folder + "/bin/vornak");
    EXPECT_EQ(runCommand("cd '" + folder + "' && bin/vornak --record x.mkv --to 100 2>&1", errors),
              1);
    EXPECT_EQ(errors.rfind("vornak: Cannot find music file \"vornak.ogg\"; looked in " +
                               fs::canonical(folder).string(),
                           0),
              0u)
        << errors;
    fs::remove_all(folder + "/bin");
    std::ofstream(folder + "/vornak.ogg") << "not music";
    EXPECT_EQ(runProgramIn(folder, "--record x.mkv --to 100", errors), 1);
    EXPECT_NE(errors.find("is not an Ogg Vorbis file"), std::string::npos) << errors;
    EXPECT_EQ(otherFiles(folder, "vornak.ogg"), std::vector<std::string>{});

    // Asked to be silent, it needs no music and has no sound track.
    EXPECT_EQ(runProgramIn(folder, "--record silent.mkv --to 100 --no-sound", errors), 0) << errors;
    DecodedVideo silent;
    ASSERT_TRUE(decodeVideoFile(folder + "/silent.mkv", silent));
    EXPECT_EQ(silent.frames.size(), 5u);
    EXPECT_EQ(silent.soundCodec, "");
    fs::remove(folder + "/silent.mkv");
    fs::remove(folder + "/vornak.ogg");

    // Writes fail part-way (a file size limit stands in for a full disk).
    const std::string target = folder + "/show.mkv";
    std::ofstream(target) << "old";
    EXPECT_EQ(runProgramIn(VORNAK_BINARY_DIR, "--record '" + target + "' --to 2000", errors,
                           "ulimit -f 64 &&"),
              1);
    EXPECT_NE(errors.find("cannot record to '" + target + "': File too large"), std::string::npos)
        << errors;
    EXPECT_EQ(readAll(target), "old");
    EXPECT_EQ(otherFiles(folder, "show.mkv"), std::vector<std::string>{});
    fs::remove(target);

    // The same for a cast and a GIF clip, and for a page of --render that cannot take its name.
    for (const char* file : {"show.cast", "show.gif"}) {
        std::ofstream(folder + "/" + file) << "old";
        EXPECT_EQ(runProgramIn(folder, std::string("--record ") + file + " --to 4000", errors,
                               "ulimit -f 16 &&"),
                  1);
        EXPECT_NE(errors.find("File too large"), std::string::npos) << errors;
        EXPECT_EQ(readAll(folder + "/" + file), "old");
        EXPECT_EQ(otherFiles(folder, file), std::vector<std::string>{});
        fs::remove(folder + "/" + file);
    }
    fs::create_directories(folder + "/pages/0.ans");
    EXPECT_EQ(runProgramIn(folder, "--render pages --at 0", errors), 1);
    EXPECT_NE(errors.find("cannot write 'pages/0.ans': is a folder"), std::string::npos) << errors;
    EXPECT_EQ(otherFiles(folder + "/pages", "0.ans").size(), 2u) << "the pictures before it";
    fs::remove_all(folder);
}

// Ctrl-C stops the recording at once, removes the unfinished file and ends the
// program by the signal; the file of the same name stays as it was.
TEST(Record, InterruptLeavesTheOldFileAndNoOther) {
    const std::string folder = freshFolder("interrupt");
    const std::string target = folder + "/show.mkv";
    std::ofstream(target) << "old";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGINT, SIG_DFL);
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet < 0 || dup2(quiet, STDERR_FILENO) < 0 || chdir(VORNAK_BINARY_DIR) != 0)
            _exit(127);
        execl(PROGRAM.c_str(), "vornak", "--record", target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    using std::chrono::steady_clock;
    const auto started = steady_clock::now();
    while (otherFiles(folder, "show.mkv").empty() &&
           steady_clock::now() - started < std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(otherFiles(folder, "show.mkv").size(), 1u) << "the recording has begun";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(child, SIGINT);

    const auto interrupted = steady_clock::now();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (steady_clock::now() - interrupted > std::chrono::seconds(20)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the recording went on after Ctrl-C";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(readAll(target), "old");
    EXPECT_EQ(otherFiles(folder, "show.mkv"), std::vector<std::string>{});
    fs::remove_all(folder);
}
