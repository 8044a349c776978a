#include "scenekit/scene_view.h"

#include "render/sgl.h"

void beginSceneView() {
    sglMatrixMode(SGL_PROJECTION);
    sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
    sglMatrixMode(SGL_MODELVIEW);
    sglLoadIdentity();
}

int16_t doubled(int16_t halfPixels) {
    return int16_t(uint16_t(uint16_t(halfPixels) * 2u));
}
