#include "image/surface.h"

#include <atomic>
#include <cstddef>
#include <new>

std::atomic<uint32_t> surfaceLayoutCount{0};

void noteSurfaceLayoutChange() {
    surfaceLayoutCount.fetch_add(1, std::memory_order_relaxed);
}

int Surface::create(const Size16& size, uint8_t bytesPerPixel) {
    if (size.width <= 0 || size.height <= 0 || bytesPerPixel == 0) return SURFACE_ERR_ARGS;
    release();
    const int32_t pitch = int32_t{size.width} * bytesPerPixel;
    uint8_t* memory = new (std::nothrow) uint8_t[size_t(pitch) * size_t(size.height)];
    if (memory == nullptr) return SURFACE_ERR_NOMEM;
    noteSurfaceLayoutChange();
    pitch_ = pitch;
    pixels_ = memory;
    width_ = size.width;
    height_ = size.height;
    bytesPerPixel_ = bytesPerPixel;
    created_ = 1;
    return 0;
}

void Surface::release() {
    if (!created_) return;
    noteSurfaceLayoutChange();
    delete[] pixels_;
    pixels_ = nullptr;
    created_ = 0;
}

int Surface::getSize(Size16& out) const {
    if (!created_) return SURFACE_ERR_EMPTY;
    out = Size16{width_, height_};
    return 0;
}

uint8_t* Surface::pixelAt(const Size16& point) const {
    if (point.width < 0 || point.width >= width_ || point.height < 0 || point.height >= height_)
        return nullptr;
    return pixels_ + ptrdiff_t{point.height} * pitch_ + ptrdiff_t{point.width} * bytesPerPixel_;
}
