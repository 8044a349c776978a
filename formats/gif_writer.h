// Writes frames of console cells as a looping GIF that shows the console look
// exactly: every cell an 8x12 glyph of the console font in its two colours, each
// pixel optionally repeated `scale` times in both directions. One global palette
// holds the console's 16 colours, so no colour is approximated; each frame stores
// only the rectangle of pixels that changed since the previous one and lasts
// 2/100 s (the show's 20 ms), and the clip loops forever.
//
// Built where giflib is found (VORNAK_HAVE_GIF). All memory is taken at open():
// adding a frame allocates nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct GifFileType;

// GIF sizes are 16-bit: the largest picture side a scale may give.
inline constexpr int GIF_MAX_SIDE = 65535;
// Every frame's delay, in the format's 1/100 s units.
inline constexpr int GIF_FRAME_DELAY = 2;

class GifWriter {
  public:
    GifWriter() = default;
    ~GifWriter();  // an unfinished file is closed as it is: the caller removes it
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    // Creates `path` for frames of `columns` x `rows` cells drawn `scale` times
    // as large and writes the header, palette and loop extension. False (see
    // error()) when the sizes are out of range or the file cannot be written.
    bool open(const std::string& path, int columns, int rows, int scale);
    // Adds the look of `cells` (columns x rows CHAR_INFO records, rows `pitch`
    // bytes apart) as the next frame. False (see error()) on a write failure or
    // when the writer is not open; the file is then unusable.
    bool addFrame(const uint8_t* cells, int32_t pitch);
    // Ends the file and closes it; false (see error()) if any byte could not be
    // written. The writer can be opened again afterwards.
    bool close();

    bool isOpen() const { return gif_ != nullptr; }
    // Frames added since open().
    uint32_t frames() const { return frames_; }
    const std::string& error() const { return error_; }

  private:
    static int writeBytes(GifFileType* gif, const uint8_t* bytes, int length);
    bool fail(const std::string& what, int gifError);
    void drawIndices(const uint8_t* cells, int32_t pitch);
    bool putRectangle(int left, int top, int width, int height);
    void abandon();

    GifFileType* gif_ = nullptr;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    bool writeFailed_ = false;
    int writeErrno_ = 0;
    int columns_ = 0, rows_ = 0, scale_ = 1;
    int width_ = 0, height_ = 0;  // unscaled picture size in pixels
    uint32_t frames_ = 0;
    std::vector<uint8_t> current_;   // palette index of every unscaled pixel, this frame
    std::vector<uint8_t> previous_;  // the same for the previous frame
    std::vector<uint8_t> line_;      // one scaled row of the rectangle being written
};
