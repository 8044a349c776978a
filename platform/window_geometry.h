// Where the console look goes in a window: the window's size when it opens, and
// the picture's place and size (with the status strip under it) in a drawable
// area of any size. Plain arithmetic, kept apart from the window so that it can
// be checked on its own.
#pragma once

struct PictureRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The largest whole multiple (at least 1) of the picture that fits in the usable
// screen area: the scale a window opens at.
int openingScale(int usableWidth, int usableHeight, int pictureWidth, int pictureHeight);

// The picture in a drawable area: scaled by the largest whole factor that fits,
// or, when not even 1x fits, shrunk to the largest size of the picture's
// proportions that fits; centred either way. Empty (all zero) for an empty area
// or picture.
PictureRect placePicture(int drawableWidth, int drawableHeight, int pictureWidth,
                         int pictureHeight);

// The picture and a strip `stripHeight` high under it, placed as one piece of
// pictureWidth x (pictureHeight + stripHeight) by placePicture: at a whole scale
// both are that multiple; shrunk below 1x they share the height in proportion.
struct PictureAndStrip {
    PictureRect picture;
    PictureRect strip;
};
PictureAndStrip placePictureAndStrip(int drawableWidth, int drawableHeight, int pictureWidth,
                                     int pictureHeight, int stripHeight);
