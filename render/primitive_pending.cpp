// TEMPORARY: vertex submission draws nothing until the triangle pipeline lands.
// Weak, so the real definitions replace these; delete this file when they do.
#include "render/sgl.h"

__attribute__((weak)) int sglBegin(uint8_t) {
    return 0;
}
__attribute__((weak)) void sglEnd() {}
__attribute__((weak)) void sglVertex2f(float, float) {}
__attribute__((weak)) void sglVertex3f(float, float, float) {}
__attribute__((weak)) void sglVertex3fv(const float[3]) {}
