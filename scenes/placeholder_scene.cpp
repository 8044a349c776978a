#include "scenes/placeholder_scene.h"

#include "demo/text_mode.h"
#include "render/sgl.h"

PlaceholderScene::PlaceholderScene(uint32_t firstStart, uint32_t secondStart, uint8_t textMode,
                                   const uint8_t clearColour[4])
    : firstStart_(firstStart), secondStart_(secondStart), textMode_(textMode) {
    for (int i = 0; i < 4; ++i) clearColour_[i] = clearColour[i];
}

uint8_t PlaceholderScene::render(uint32_t) {
    sglClearColor4ubv(clearColour_);
    sglClear(1);
    setTextMode(textMode_);
    return 0;
}
