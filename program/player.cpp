#include "program/player.h"

#include <cstdio>
#include <cstring>

PlayerKey playerKeyFor(uint16_t key) {
    switch (key) {
        case CONSOLE_VK_SPACE:
        case 'P':
        case CONSOLE_VK_POINTER:
            return {PlayerAction::TogglePause, 0};
        case CONSOLE_VK_LEFT:
            return {PlayerAction::Seek, -5000};
        case CONSOLE_VK_RIGHT:
            return {PlayerAction::Seek, 5000};
        case CONSOLE_VK_DOWN:
            return {PlayerAction::Seek, -60000};
        case CONSOLE_VK_UP:
            return {PlayerAction::Seek, 60000};
        case CONSOLE_VK_PAGE_UP:
            return {PlayerAction::PreviousScene, 0};
        case CONSOLE_VK_PAGE_DOWN:
            return {PlayerAction::NextScene, 0};
        case CONSOLE_VK_HOME:
            return {PlayerAction::Home, 0};
        case CONSOLE_VK_PERIOD:
            return {PlayerAction::Step, 1};
        case CONSOLE_VK_COMMA:
            return {PlayerAction::Step, -1};
        case 'M':
            return {PlayerAction::Mute, 0};
        case '9':
            return {PlayerAction::Volume, -VOLUME_STEP};
        case '0':
            return {PlayerAction::Volume, VOLUME_STEP};
        case 'I':
            return {PlayerAction::ToggleStatus, 0};
        case CONSOLE_VK_ESCAPE:
        case 'Q':
            return {PlayerAction::Quit, 0};
        default:
            return {};
    }
}

uint32_t previousShowingStart(uint32_t t) {
    const int current = showingAt(t);
    if (t >= SHOW_SHOWINGS[current].start + SCENE_BACK_THRESHOLD_MS || current == 0)
        return gridTimeAtOrAfter(SHOW_SHOWINGS[current].start);
    return gridTimeAtOrAfter(SHOW_SHOWINGS[current - 1].start);
}

uint32_t nextShowingStart(uint32_t t) {
    const int current = showingAt(t);
    return current + 1 < SHOW_SHOWING_COUNT ? gridTimeAtOrAfter(SHOW_SHOWINGS[current + 1].start)
                                            : SHOW_LENGTH_MS;
}

namespace {

// "M:SS.cc" of a time in ms.
int formatTime(uint32_t ms, char* text, size_t capacity) {
    return std::snprintf(text, capacity, "%u:%02u.%02u", ms / 60000, ms / 1000 % 60, ms / 10 % 100);
}

}  // namespace

size_t formatStatusLine(const PlayerStatus& status, char* text) {
    char position[16];
    char length[16];
    formatTime(status.position, position, sizeof position);
    formatTime(SHOW_LENGTH_MS, length, sizeof length);
    const Showing& showing = SHOW_SHOWINGS[showingAt(status.position)];
    char volume[16];
    if (status.muted)
        std::snprintf(volume, sizeof volume, "muted");
    else
        std::snprintf(volume, sizeof volume, "volume %d%%", status.volume);
    const int written = std::snprintf(text, STATUS_LINE_CAPACITY + 1, "%s / %s  %u/%d %s  %s%s",
                                      position, length, unsigned(showing.scene), SHOW_SCENE_COUNT,
                                      showing.name, status.paused ? "paused  " : "", volume);
    if (written < 0) {
        text[0] = 0;
        return 0;
    }
    return std::min<size_t>(size_t(written), STATUS_LINE_CAPACITY);
}

void statusRowCells(const char* text, size_t length, uint8_t cells[CONSOLE_COLUMNS * 4]) {
    constexpr uint8_t WHITE_ON_BLUE = 0x1F;
    for (int column = 0; column < CONSOLE_COLUMNS; ++column) {
        // One space before the text, blanks after it.
        const size_t at = size_t(column);
        const char c = at >= 1 && at - 1 < length ? text[at - 1] : ' ';
        uint8_t* cell = cells + column * 4;
        cell[0] = uint8_t(c);
        cell[1] = 0;
        cell[2] = WHITE_ON_BLUE;
        cell[3] = 0;
    }
}
