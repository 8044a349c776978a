// The scenes' built-in images, generated at build time by tools/scene_images.cpp
// and tools/caption_text.cpp. Every image is width x height x 4 bytes, rows top to
// bottom, bytes R, G, B, A, ready to be copied into a Surface of that size.
#pragma once

#include <cstdint>

// Sphere texture: soft yellow bands (R <= 223, G <= 218, B = 0) between thin black
// contour lines; alpha 0.
constexpr int16_t PLASMA_IMAGE_WIDTH = 128;
constexpr int16_t PLASMA_IMAGE_HEIGHT = 128;
extern const uint8_t plasmaImage[PLASMA_IMAGE_WIDTH * PLASMA_IMAGE_HEIGHT * 4];

// Seamless tile of flat-topped blue hexagons with bevelled rims and black joints;
// green and alpha 0.
constexpr int16_t HEX_IMAGE_WIDTH = 128;
constexpr int16_t HEX_IMAGE_HEIGHT = 128;
extern const uint8_t hexImage[HEX_IMAGE_WIDTH * HEX_IMAGE_HEIGHT * 4];

// 4x4 squares of 32 pixels: bevelled blue where row + column is even, black
// elsewhere; red, green and alpha 0.
constexpr int16_t CHECKER_IMAGE_WIDTH = 128;
constexpr int16_t CHECKER_IMAGE_HEIGHT = 128;
constexpr int CHECKER_SQUARE_SIZE = 32;
extern const uint8_t checkerImage[CHECKER_IMAGE_WIDTH * CHECKER_IMAGE_HEIGHT * 4];

// Cube scene backdrop: soft red clouds, red 47..225, green and blue 0, alpha 221..255.
constexpr int16_t CLOUD_IMAGE_WIDTH = 64;
constexpr int16_t CLOUD_IMAGE_HEIGHT = 64;
extern const uint8_t cloudImage[CLOUD_IMAGE_WIDTH * CLOUD_IMAGE_HEIGHT * 4];

// Cube texture: grey stone with bright veins, R = G = B in 2..255, alpha 0.
constexpr int16_t CRACKLE_IMAGE_WIDTH = 128;
constexpr int16_t CRACKLE_IMAGE_HEIGHT = 128;
extern const uint8_t crackleImage[CRACKLE_IMAGE_WIDTH * CRACKLE_IMAGE_HEIGHT * 4];

// Radial glow for the glow-trail scene's `glowImage`: R = G = B = A = v, where v
// falls smoothly with the distance d from pixel (GLOW_IMAGE_CENTRE, GLOW_IMAGE_CENTRE):
// 128 at d = 0, 126 at 1, 89 at 10, 70 at 14, 44 at 20, 2 at 30 and 0 from 31 on.
constexpr int16_t GLOW_IMAGE_WIDTH = 64;
constexpr int16_t GLOW_IMAGE_HEIGHT = 64;
constexpr int GLOW_IMAGE_CENTRE = 32;
extern const uint8_t glowImageData[GLOW_IMAGE_WIDTH * GLOW_IMAGE_HEIGHT * 4];

// The finale's `textImage`: four framed lines whose alpha-255 letters show the
// static, alpha 1 kept as drawn, alpha 0 not drawn.
constexpr int16_t NOISE_TEXT_IMAGE_WIDTH = 146;
constexpr int16_t NOISE_TEXT_IMAGE_HEIGHT = 90;
extern const uint8_t noiseTextImageData[NOISE_TEXT_IMAGE_WIDTH * NOISE_TEXT_IMAGE_HEIGHT * 4];

// The finale's four text lines as {x, y, width, height} of noiseTextImageData.
constexpr int16_t NOISE_TEXT_LINE_RECTS[4][4] = {
    {0, 0, 140, 18},
    {0, 18, 146, 18},
    {0, 36, 116, 18},
    {0, 54, 124, 36},
};
