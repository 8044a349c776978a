// Vorbis encoding through libvorbisenc, written page by page.
#include "tools/soundtrack/ogg_writer.h"

#include <vorbis/vorbisenc.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct Encoder {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
    bool analysis = false, blockReady = false, streamReady = false;
    Encoder() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~Encoder() {
        if (streamReady) ogg_stream_clear(&stream);
        if (blockReady) vorbis_block_clear(&block);
        if (analysis) vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
};

bool writePage(FILE* file, const ogg_page& page) {
    return std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), file) ==
               static_cast<size_t>(page.header_len) &&
           std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), file) ==
               static_cast<size_t>(page.body_len);
}

}  // namespace

bool writeOggVorbis(const char* fileName, const int16_t* samples, size_t frameCount, int channels,
                    int rate, float quality, std::string& problem) {
    Encoder e;
    if (vorbis_encode_init_vbr(&e.info, channels, rate, quality) != 0) {
        problem = "Vorbis cannot encode this format";
        return false;
    }
    vorbis_comment_add_tag(&e.comment, "TITLE", "vornak");
    if (vorbis_analysis_init(&e.dsp, &e.info) != 0) {
        problem = "Vorbis encoder set-up failed";
        return false;
    }
    e.analysis = true;
    vorbis_block_init(&e.dsp, &e.block);
    e.blockReady = true;
    ogg_stream_init(&e.stream, OGG_STREAM_SERIAL);
    e.streamReady = true;

    FILE* file = std::fopen(fileName, "wb");
    if (!file) {
        problem = std::string("Cannot write ") + fileName + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    ogg_packet header, commentPacket, codebooks;
    vorbis_analysis_headerout(&e.dsp, &e.comment, &header, &commentPacket, &codebooks);
    ogg_stream_packetin(&e.stream, &header);
    ogg_stream_packetin(&e.stream, &commentPacket);
    ogg_stream_packetin(&e.stream, &codebooks);
    ogg_page page;
    while (ok && ogg_stream_flush(&e.stream, &page) != 0) ok = writePage(file, page);

    constexpr size_t CHUNK = 4096;
    size_t done = 0;
    bool finished = false;
    while (ok && !finished) {
        const size_t frames = frameCount - done < CHUNK ? frameCount - done : CHUNK;
        if (frames == 0) {
            vorbis_analysis_wrote(&e.dsp, 0);  // end of stream
        } else {
            float** buffer = vorbis_analysis_buffer(&e.dsp, static_cast<int>(frames));
            for (size_t i = 0; i < frames; ++i)
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = samples[(done + i) * static_cast<size_t>(channels) +
                                           static_cast<size_t>(c)] /
                                   32768.0f;
            vorbis_analysis_wrote(&e.dsp, static_cast<int>(frames));
            done += frames;
        }
        while (ok && vorbis_analysis_blockout(&e.dsp, &e.block) == 1) {
            vorbis_analysis(&e.block, nullptr);
            vorbis_bitrate_addblock(&e.block);
            ogg_packet packet;
            while (ok && vorbis_bitrate_flushpacket(&e.dsp, &packet) == 1) {
                ogg_stream_packetin(&e.stream, &packet);
                while (ok && ogg_stream_pageout(&e.stream, &page) != 0) {
                    ok = writePage(file, page);
                    if (ogg_page_eos(&page)) finished = true;
                }
            }
        }
        if (frames == 0 && ok) {
            while (ok && ogg_stream_flush(&e.stream, &page) != 0) ok = writePage(file, page);
            finished = true;
        }
    }
    if (std::fclose(file) != 0) ok = false;
    if (!ok) {
        problem = std::string("Cannot write ") + fileName;
        std::remove(fileName);
    }
    return ok;
}
