#include "program/frame_loop.h"

#include <cstring>

void writeConsoleText(Console& console, const char* text) {
    console.writeText(text, static_cast<uint32_t>(std::strlen(text)));
}

FrameSlot nextFrameSlot(uint32_t now, uint32_t lastTick) {
    const uint32_t elapsed = now - lastTick;
    if (elapsed < FRAME_MS) return {FRAME_MS - elapsed, lastTick + FRAME_MS};
    return {0, now};
}

uint32_t paceFrame(Clock& clock, uint32_t lastTick) {
    const FrameSlot slot = nextFrameSlot(clock.tickCount(), lastTick);
    if (slot.wait > 0) clock.sleep(slot.wait);
    return slot.nextTick;
}

bool consumeInputForEscape(Console& console) {
    bool escape = false;
    for (uint32_t n = console.pendingInputEvents(); n > 0; --n) {
        ConsoleInputEvent event;
        if (!console.readInputEvent(event)) continue;
        if (event.eventType == CONSOLE_KEY_EVENT && event.keyDown == 1 &&
            event.virtualKeyCode == CONSOLE_VK_ESCAPE) {
            escape = true;
        }
    }
    return escape;
}

void clearSurface(Surface& surface) {
    if (surface.pixels() == nullptr) return;
    std::memset(surface.pixels(), 0,
                static_cast<size_t>(surface.pitch()) * static_cast<size_t>(surface.height()));
}
