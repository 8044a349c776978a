// The web build writes and reads no PNG files (libpng is left out of it): the
// offline render mode that the program layer carries fails cleanly instead.
#include "platform/png_file.h"

bool writePngRgba(const std::string&, int, int, const uint8_t*, int) {
    return false;
}

bool writePngRgba(const std::string&, const RgbaImage&) {
    return false;
}

bool readPngRgba(const std::string&, RgbaImage& image) {
    image = RgbaImage();
    return false;
}
