// FrameBuffer: attaching the Surfaces the renderer draws into.
#include "render/frame_buffer.h"

#include "render/sgl.h"

int FrameBuffer::init() {
    release();
    noteSurfaceLayoutChange();
    initialised_ = 1;
    return 0;
}

void FrameBuffer::release() {
    if (!initialised_) return;
    noteSurfaceLayoutChange();
    attached_ = 0;
    initialised_ = 0;
}

int FrameBuffer::attach(Surface* s, uint8_t which) {
    if (s == nullptr || which == 0) return SGL_ERR_INVALID;
    Size16 size;
    if (s->getSize(size) != 0) return SGL_ERR_INVALID;
    if (size.width > SPAN_CAPACITY) return SGL_ERR_INVALID;
    if (attached_ == 0) {
        width_ = size.width;
        height_ = size.height;
    } else if (size.width != width_ || size.height != height_) {
        return SGL_ERR_INVALID;
    }
    switch (which) {
        case SGL_COLOR_BUFFER:
            if (s->bytesPerPixel() != 4) return SGL_ERR_INVALID;
            color_ = s;
            break;
        case SGL_DEPTH_BUFFER:
            if (s->bytesPerPixel() != 4) return SGL_ERR_INVALID;
            depth_ = s;
            break;
        case SGL_STENCIL_BUFFER:
            if (s->bytesPerPixel() != 1) return SGL_ERR_INVALID;
            stencil_ = s;
            break;
        default:
            return SGL_ERR_INVALID;
    }
    attached_ |= which;
    noteSurfaceLayoutChange();
    return 0;
}

// A selector that is not attached (any more) answers null, never a stale Surface.
Surface* FrameBuffer::surface(uint8_t which) const {
    if ((attached_ & which) == 0) return nullptr;
    Surface* s = nullptr;
    uint8_t bytesPerPixel = 4;
    switch (which) {
        case SGL_COLOR_BUFFER:
            s = color_;
            break;
        case SGL_DEPTH_BUFFER:
            s = depth_;
            break;
        case SGL_STENCIL_BUFFER:
            s = stencil_;
            bytesPerPixel = 1;
            break;
        default:
            return nullptr;
    }
    const bool fits =
        s->width() == width_ && s->height() == height_ && s->bytesPerPixel() == bytesPerPixel;
    return fits ? s : nullptr;
}
