// A console without a screen: text output is collected, frames land in a cell
// buffer in memory, and input events are scripted in advance. Runs with it are
// reproducible; tests and the image renderer observe frames through a hook.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/console.h"

class HeadlessConsole : public Console {
  public:
    HeadlessConsole();

    void setTitle(const char* title) override { title_ = title; }
    void setScreenBufferSize(int16_t columns, int16_t rows) override;
    void flushInput() override;
    void writeText(const char* text, uint32_t length) override { text_.append(text, length); }
    void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) override;
    void beginFrame() override {}
    void endFrame() override;
    uint32_t pendingInputEvents() override;
    bool readInputEvent(ConsoleInputEvent& event) override;

    // Makes `event` pending once `frames` frames have been written (0: already
    // queued at start, so a flushInput discards it).
    void scheduleInput(uint32_t frames, const ConsoleInputEvent& event);
    // Called after every frame, with the number of frames written so far.
    void setFrameHook(std::function<void(const HeadlessConsole&, uint32_t)> hook) {
        frameHook_ = std::move(hook);
    }

    const std::string& title() const { return title_; }
    const std::string& text() const { return text_; }
    int16_t columns() const { return columns_; }
    int16_t rows() const { return rows_; }
    // The screen buffer: columns x rows CHAR_INFO records, row after row.
    const std::vector<uint8_t>& cells() const { return cells_; }
    const uint8_t* cellAt(int16_t column, int16_t row) const;
    uint32_t framesWritten() const { return frames_; }
    uint32_t rowWrites() const { return rowWrites_; }

  private:
    struct ScheduledInput {
        uint32_t frames;
        ConsoleInputEvent event;
    };

    std::string title_;
    std::string text_;
    int16_t columns_ = 80;
    int16_t rows_ = 50;
    std::vector<uint8_t> cells_;
    uint32_t frames_ = 0;
    uint32_t rowWrites_ = 0;
    std::vector<ScheduledInput> input_;  // in the order scheduled
    size_t nextInput_ = 0;
    std::function<void(const HeadlessConsole&, uint32_t)> frameHook_;
};
