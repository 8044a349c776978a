#include "textmode/text_mode.h"

namespace {
uint8_t currentTextMode = 0;
}

void setTextMode(uint8_t mode) {
    currentTextMode = mode;
}
uint8_t textMode() {
    return currentTextMode;
}
