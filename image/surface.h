// Surface: the one pixel-buffer type. Owns a block of width x height pixels of
// 1 to 255 bytes each, stored row after row, and answers questions about its
// shape. Memory is released explicitly (Surfaces that live for the whole run
// never are).
#pragma once

#include <atomic>
#include <cstdint>

// A pair of signed 16-bit values: a size (width, height), or a point whose x is
// held in width and y in height.
struct Size16 {
    int16_t width = 0;
    int16_t height = 0;
};

constexpr int SURFACE_ERR_ARGS = 0x10001;
constexpr int SURFACE_ERR_EMPTY = 0x10002;
constexpr int SURFACE_ERR_NOMEM = 0x10003;

// Counts the changes to any Surface's memory, pitch or size (and Surfaces
// coming and going): whoever keeps what it learnt about Surfaces between
// calls knows to look again when the count has moved. Inline: the renderer
// asks before every triangle.
extern std::atomic<uint32_t> surfaceLayoutCount;
inline uint32_t surfaceLayoutGeneration() {
    return surfaceLayoutCount.load(std::memory_order_relaxed);
}
void noteSurfaceLayoutChange();

class Surface {
  public:
    Surface() { noteSurfaceLayoutChange(); }
    ~Surface() { noteSurfaceLayoutChange(); }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // Allocates (uninitialised) pixel memory; a refused call leaves the Surface as it was.
    int create(const Size16& size, uint8_t bytesPerPixel);
    void release();
    int getSize(Size16& out) const;

    uint8_t bytesPerPixel() const { return bytesPerPixel_; }
    int32_t pitch() const { return pitch_; }
    int16_t width() const { return created_ ? width_ : 0; }
    int16_t height() const { return created_ ? height_ : 0; }
    uint8_t* pixels() const { return created_ ? pixels_ : nullptr; }
    // Address of the pixel at (point.width, point.height), or null outside the stored size.
    uint8_t* pixelAt(const Size16& point) const;

  private:
    uint8_t created_ = 0;
    uint8_t bytesPerPixel_ = 0;
    int32_t pitch_ = 0;
    int16_t width_ = 0;
    int16_t height_ = 0;
    uint8_t* pixels_ = nullptr;
};
