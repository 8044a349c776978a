#include "platform/png_file.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

}  // namespace

bool writePngRgba(const std::string& path, int width, int height, const uint8_t* pixels,
                  int pitch) {
    if (width <= 0 || height <= 0 || pixels == nullptr || pitch < width * 4) return false;
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, pixels + ptrdiff_t(y) * pitch);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(file.get()) == 0;
}

bool writePngRgba(const std::string& path, const RgbaImage& image) {
    if (image.pixels.size() != size_t(image.width) * size_t(image.height) * 4) return false;
    return writePngRgba(path, image.width, image.height, image.pixels.data(), image.width * 4);
}

bool readPngRgba(const std::string& path, RgbaImage& image) {
    image = RgbaImage{};
    png_image reader{};
    reader.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&reader, path.c_str())) return false;
    reader.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(reader));
    if (!png_image_finish_read(&reader, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&reader);
        return false;
    }
    image.width = int(reader.width);
    image.height = int(reader.height);
    image.pixels = std::move(pixels);
    return true;
}
