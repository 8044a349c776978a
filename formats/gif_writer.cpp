#include "formats/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "data/console_font.h"
#include "image/console_palette.h"

namespace {

// The loop extension: an application block naming NETSCAPE2.0 whose sub-block 1
// holds the repeat count, 0 for forever.
constexpr uint8_t LOOP_APPLICATION[11] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
constexpr uint8_t LOOP_FOREVER[3] = {1, 0, 0};

}  // namespace

GifWriter::~GifWriter() {
    abandon();
}

int GifWriter::writeBytes(GifFileType* gif, const uint8_t* bytes, int length) {
    auto* self = static_cast<GifWriter*>(gif->UserData);
    if (self->writeFailed_) return 0;
    const size_t written = std::fwrite(bytes, 1, size_t(length), self->file_);
    if (written != size_t(length)) {
        self->writeFailed_ = true;
        self->writeErrno_ = errno;
    }
    return int(written);
}

bool GifWriter::fail(const std::string& what, int gifError) {
    error_ = path_ + ": " + what;
    if (writeFailed_) {
        error_ += ": ";
        error_ += writeErrno_ != 0 ? std::strerror(writeErrno_) : "write error";
    } else if (gifError != 0) {
        const char* text = GifErrorString(gifError);
        error_ += ": ";
        error_ += text != nullptr ? text : "GIF error";
    }
    abandon();
    return false;
}

void GifWriter::abandon() {
    if (gif_ != nullptr) {
        // Nothing more reaches the file once it has failed; the trailer of an
        // unfinished clip does not matter either.
        writeFailed_ = true;
        int ignored = 0;
        EGifCloseFile(gif_, &ignored);
        gif_ = nullptr;
    }
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool GifWriter::open(const std::string& path, int columns, int rows, int scale) {
    abandon();
    path_ = path;
    error_.clear();
    writeFailed_ = false;
    writeErrno_ = 0;
    frames_ = 0;
    if (columns < 1 || rows < 1 || scale < 1 || columns > GIF_MAX_SIDE / CONSOLE_FONT_WIDTH ||
        rows > GIF_MAX_SIDE / CONSOLE_FONT_HEIGHT ||
        scale > GIF_MAX_SIDE / (columns * CONSOLE_FONT_WIDTH) ||
        scale > GIF_MAX_SIDE / (rows * CONSOLE_FONT_HEIGHT)) {
        error_ = path + ": no GIF of " + std::to_string(columns) + "x" + std::to_string(rows) +
                 " cells at scale " + std::to_string(scale) + " (at most " +
                 std::to_string(GIF_MAX_SIDE) + " pixels a side)";
        return false;
    }
    columns_ = columns;
    rows_ = rows;
    scale_ = scale;
    width_ = columns * CONSOLE_FONT_WIDTH;
    height_ = rows * CONSOLE_FONT_HEIGHT;
    current_.assign(size_t(width_) * size_t(height_), 0);
    previous_.assign(current_.size(), 0);
    line_.assign(size_t(width_) * size_t(scale), 0);

    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        writeFailed_ = true;
        writeErrno_ = errno;
        return fail("cannot create the file", 0);
    }
    int gifError = 0;
    gif_ = EGifOpen(this, &GifWriter::writeBytes, &gifError);
    if (gif_ == nullptr) return fail("cannot start the GIF", gifError);
    EGifSetGifVersion(gif_, true);  // GIF89a: delays and the loop extension

    GifColorType colors[16];
    for (size_t i = 0; i < 16; ++i) {
        colors[i] = {CONSOLE_PALETTE[i].r, CONSOLE_PALETTE[i].g, CONSOLE_PALETTE[i].b};
    }
    ColorMapObject* palette = GifMakeMapObject(16, colors);
    if (palette == nullptr) return fail("out of memory", 0);
    const int put = EGifPutScreenDesc(gif_, width_ * scale, height_ * scale, 8, 0, palette);
    GifFreeMapObject(palette);
    if (put == GIF_ERROR) return fail("cannot write the header", gif_->Error);

    if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(gif_, sizeof LOOP_APPLICATION, LOOP_APPLICATION) == GIF_ERROR ||
        EGifPutExtensionBlock(gif_, sizeof LOOP_FOREVER, LOOP_FOREVER) == GIF_ERROR ||
        EGifPutExtensionTrailer(gif_) == GIF_ERROR) {
        return fail("cannot write the loop extension", gif_->Error);
    }
    return true;
}

void GifWriter::drawIndices(const uint8_t* cells, int32_t pitch) {
    for (int cy = 0; cy < rows_; ++cy) {
        const uint8_t* cell = cells + cy * pitch;
        for (int cx = 0; cx < columns_; ++cx, cell += 4) {
            const uint8_t* glyph = CONSOLE_FONT + cell[0] * CONSOLE_FONT_HEIGHT;
            const uint8_t fore = cell[2] & 0x0F;
            const uint8_t back = cell[2] >> 4;
            uint8_t* out = current_.data() + size_t(cy * CONSOLE_FONT_HEIGHT) * size_t(width_) +
                           size_t(cx * CONSOLE_FONT_WIDTH);
            for (int y = 0; y < CONSOLE_FONT_HEIGHT; ++y, out += width_) {
                for (int x = 0; x < CONSOLE_FONT_WIDTH; ++x) {
                    out[x] = (glyph[y] & (0x80 >> x)) != 0 ? fore : back;
                }
            }
        }
    }
}

bool GifWriter::putRectangle(int left, int top, int width, int height) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;  // the next frame draws over this one
    control.UserInputFlag = false;
    control.DelayTime = GIF_FRAME_DELAY;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_ERROR ||
        EGifPutImageDesc(gif_, left * scale_, top * scale_, width * scale_, height * scale_, false,
                         nullptr) == GIF_ERROR) {
        return false;
    }
    const int lineLength = width * scale_;
    for (int y = top; y < top + height; ++y) {
        const uint8_t* row = current_.data() + size_t(y) * size_t(width_) + size_t(left);
        GifPixelType* line = line_.data();
        if (scale_ == 1) {
            std::copy(row, row + width, line);
        } else {
            for (int x = 0; x < width; ++x, line += scale_) std::fill_n(line, scale_, row[x]);
        }
        for (int repeat = 0; repeat < scale_; ++repeat) {
            if (EGifPutLine(gif_, line_.data(), lineLength) == GIF_ERROR) return false;
        }
    }
    return true;
}

bool GifWriter::addFrame(const uint8_t* cells, int32_t pitch) {
    if (gif_ == nullptr) {
        if (error_.empty()) error_ = "no GIF is open";
        return false;
    }
    drawIndices(cells, pitch);
    // The rectangle of changed pixels; the first frame is whole.
    int left = 0, top = 0, right = width_, bottom = height_;
    if (frames_ > 0) {
        const size_t rowBytes = size_t(width_);
        auto rowDiffers = [&](int y) {
            return std::memcmp(current_.data() + size_t(y) * rowBytes,
                               previous_.data() + size_t(y) * rowBytes, rowBytes) != 0;
        };
        while (top < height_ && !rowDiffers(top)) ++top;
        if (top == height_) {
            // Nothing changed: one unchanged pixel keeps the frame and its delay.
            top = 0;
            bottom = 1;
            right = 1;
        } else {
            while (!rowDiffers(bottom - 1)) --bottom;
            left = width_;
            right = 0;
            for (int y = top; y < bottom; ++y) {
                const uint8_t* now = current_.data() + size_t(y) * rowBytes;
                const uint8_t* before = previous_.data() + size_t(y) * rowBytes;
                int x = 0;
                while (x < left && now[x] == before[x]) ++x;
                left = x;
                x = width_;
                while (x > right && now[x - 1] == before[x - 1]) --x;
                right = x;
            }
        }
    }
    if (!putRectangle(left, top, right - left, bottom - top)) {
        return fail("cannot write frame " + std::to_string(frames_ + 1), gif_->Error);
    }
    current_.swap(previous_);
    ++frames_;
    return true;
}

bool GifWriter::close() {
    if (gif_ == nullptr) {
        if (error_.empty()) error_ = "no GIF is open";
        return false;
    }
    int gifError = 0;
    const int closed = EGifCloseFile(gif_, &gifError);  // writes the trailer, frees the state
    gif_ = nullptr;
    if (closed == GIF_ERROR) return fail("cannot end the GIF", gifError);
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) {
        writeFailed_ = true;
        writeErrno_ = errno;
        return fail("cannot write the file", 0);
    }
    const int status = std::fclose(file_);
    file_ = nullptr;
    if (status != 0) {
        writeFailed_ = true;
        writeErrno_ = errno;
        return fail("cannot write the file", 0);
    }
    return true;
}
