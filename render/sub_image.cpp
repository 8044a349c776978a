// Image rectangles: clipping to the FrameBuffer and the row loop through the
// stencil, alpha and blend stages.
#include "render/sub_image.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <typeinfo>

#include "render/blend_op.h"
#include "render/fragment_tables.h"
#include "render/render_context.h"
#include "render/sgl.h"

int SubImage::init(const int16_t rect[4], Surface* source) {
    valid_ = 0;
    if (rect == nullptr || source == nullptr || source->bytesPerPixel() != 4) {
        return SGL_ERR_INVALID;
    }
    const int x = rect[0];
    const int y = rect[1];
    const int width = rect[2];
    const int height = rect[3];
    if (x < 0 || y < 0 || width < 1 || height < 1 || x + width > source->width() ||
        y + height > source->height()) {
        return SGL_ERR_INVALID;
    }
    source_ = source;
    x_ = rect[0];
    y_ = rect[1];
    width_ = rect[2];
    height_ = rect[3];
    valid_ = 1;
    return 0;
}

void SubImage::draw(int16_t x, int16_t y) const {
    if (!valid_) return;
    const FrameBuffer* fb = sglGetFrameBuffer();
    if (fb == nullptr) return;
    const Surface* color = fb->surface(SGL_COLOR_BUFFER);
    const Surface* stencil = fb->surface(SGL_STENCIL_BUFFER);
    if (color == nullptr || color->pixels() == nullptr) return;
    if (sglIsEnabled(SGL_STENCIL_TEST) && (stencil == nullptr || stencil->pixels() == nullptr)) {
        return;
    }
    const uint8_t* sourcePixels = source_->pixels();
    if (sourcePixels == nullptr || source_->bytesPerPixel() != 4) return;
    // The source may have been created again, smaller, since init: only the
    // part of the rectangle that lies inside it now is drawn.
    const int width = std::min<int>(width_, source_->width() - x_);
    const int height = std::min<int>(height_, source_->height() - y_);
    if (width < 1 || height < 1) return;

    const int frameWidth = fb->width();
    const int frameHeight = fb->height();
    if (x >= frameWidth || y >= frameHeight || x + width <= 0 || y + height <= 0) return;

    const int firstColumn = x >= 0 ? x : 0;
    const int sourceColumn = x >= 0 ? 0 : -x;
    int n = width - sourceColumn;
    if (firstColumn + n > frameWidth) n = frameWidth - firstColumn;
    const int firstRow = y >= 0 ? y : 0;
    const int sourceRowOffset = y >= 0 ? 0 : -y;

    const int32_t sourcePitch = source_->pitch();
    const int32_t colorPitch = color->pitch();
    uint8_t* mask = renderContext.spans.mask;
    const uint16_t count = static_cast<uint16_t>(n);
    const FragmentTables& tables = renderContext.tables;
    if (tables.stencil.built && tables.alpha.built && !sglIsEnabled(SGL_STENCIL_TEST) &&
        !sglIsEnabled(SGL_ALPHA_TEST)) {
        // No test can reject a pixel: one mask and one blend object for every row.
        uint8_t srcCode = 0, dstCode = 0;
        const BlendFragmentOp* blend = currentBlend(srcCode, dstCode);
        if (blend == nullptr) return;
        const uint8_t* sourceRow = sourcePixels +
                                   std::ptrdiff_t{y_ + sourceRowOffset} * sourcePitch +
                                   std::ptrdiff_t{x_ + sourceColumn} * 4;
        uint8_t* colorRow = color->pixels() + std::ptrdiff_t{firstRow} * colorPitch +
                            std::ptrdiff_t{firstColumn} * 4;
        const int rows = std::min(frameHeight - firstRow, height - sourceRowOffset);
        // The class is final: its type_info alone says the object is one,
        // compared by address (a copy elsewhere would only take the row loop).
        if (&typeid(*blend) == &typeid(BlendConstantOneOp)) {
            static_cast<const BlendConstantOneOp*>(blend)->blendRows(
                sourceRow, sourcePitch, colorRow, colorPitch, nullptr, srcCode, count, rows);
            return;
        }
        std::memset(mask, 0, count);
        if (&typeid(*blend) == &typeid(BlendOp)) {
            static_cast<const BlendOp*>(blend)->blendRows(
                sourceRow, sourcePitch, colorRow, colorPitch, mask, srcCode, dstCode, count, rows);
            return;
        }
        for (int r = 0; r < rows; ++r, sourceRow += sourcePitch, colorRow += colorPitch) {
            blend->blend(sourceRow, colorRow, colorRow, mask, srcCode, dstCode, count);
        }
        return;
    }
    for (int r = firstRow, j = sourceRowOffset; r < frameHeight && j < height; ++r, ++j) {
        for (int i = 0; i < n; ++i) mask[i] = 0;
        // The stencil row is only formed when a stencil Surface exists; with
        // stencil testing off the dispatcher does not read it.
        uint8_t* stencilRow =
            stencil != nullptr && stencil->pixels() != nullptr
                ? stencil->pixels() + std::ptrdiff_t{r} * stencil->pitch() + firstColumn
                : nullptr;
        if (stencilTestSpan(stencilRow, mask, count) != 1) continue;
        const uint8_t* sourceRow = sourcePixels + std::ptrdiff_t{y_ + j} * sourcePitch +
                                   std::ptrdiff_t{x_ + sourceColumn} * 4;
        if (alphaTestSpan(sourceRow, mask, count) != 1) continue;
        uint8_t* colorRow =
            color->pixels() + std::ptrdiff_t{r} * colorPitch + std::ptrdiff_t{firstColumn} * 4;
        blendSpan(sourceRow, colorRow, colorRow, mask, count);
    }
}
