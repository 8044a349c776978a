#include "platform/window_geometry.h"

#include <algorithm>
#include <cstdint>

int openingScale(int usableWidth, int usableHeight, int pictureWidth, int pictureHeight) {
    if (pictureWidth <= 0 || pictureHeight <= 0) return 1;
    return std::max(1, std::min(usableWidth / pictureWidth, usableHeight / pictureHeight));
}

PictureRect placePicture(int drawableWidth, int drawableHeight, int pictureWidth,
                         int pictureHeight) {
    PictureRect rect;
    if (drawableWidth <= 0 || drawableHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
        return rect;
    const int scale = std::min(drawableWidth / pictureWidth, drawableHeight / pictureHeight);
    if (scale >= 1) {
        rect.width = pictureWidth * scale;
        rect.height = pictureHeight * scale;
    } else {
        // The side that runs out first is filled; the other keeps the proportions,
        // rounded down so that the picture never spills over the area. 64-bit
        // products: window sizes times picture sizes overflow 32 bits past 46340.
        const int64_t widthBound = int64_t(drawableWidth) * pictureHeight;
        const int64_t heightBound = int64_t(drawableHeight) * pictureWidth;
        if (widthBound <= heightBound) {
            rect.width = drawableWidth;
            rect.height = int(widthBound / pictureWidth);
        } else {
            rect.height = drawableHeight;
            rect.width = int(heightBound / pictureHeight);
        }
    }
    rect.x = (drawableWidth - rect.width) / 2;
    rect.y = (drawableHeight - rect.height) / 2;
    return rect;
}

PictureAndStrip placePictureAndStrip(int drawableWidth, int drawableHeight, int pictureWidth,
                                     int pictureHeight, int stripHeight) {
    PictureAndStrip placed;
    if (pictureHeight <= 0 || stripHeight < 0) return placed;
    const PictureRect whole =
        placePicture(drawableWidth, drawableHeight, pictureWidth, pictureHeight + stripHeight);
    if (whole.height == 0) return placed;
    placed.picture = whole;
    placed.picture.height =
        int(int64_t(whole.height) * pictureHeight / (pictureHeight + stripHeight));
    placed.strip = whole;
    placed.strip.y = whole.y + placed.picture.height;
    placed.strip.height = whole.height - placed.picture.height;
    return placed;
}
