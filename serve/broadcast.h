// One show sent to many terminals. Viewers with the same colour depth and size
// share a group, whose encoder turns each frame into bytes once for all of
// them. A viewer whose output queue would grow past its bound skips frames; when
// its queue has drained it gets the cells changed since the frame it last
// received, and is back in step with its group. Every frame starts from an
// unknown cursor position and colours, so that the bytes of the group and of a
// catch-up continue any terminal that shows the same cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal_encoder.h"
#include "platform/terminal_layout.h"

// The show's cells: 80x50 CHAR_INFO records, row after row.
constexpr size_t SHOW_CELL_BYTES = size_t(SHOW_COLUMNS) * SHOW_ROWS * 4;

// Bytes waiting for a slow link, up to a bound.
class OutputQueue {
  public:
    explicit OutputQueue(size_t bound) : bound_(bound) {}
    size_t size() const { return data_.size() - head_; }
    bool empty() const { return size() == 0; }
    // An empty queue takes any one piece (a frame is sent whole or not at all).
    bool canTake(size_t count) const { return empty() || size() + count <= bound_; }
    void push(std::string_view bytes);
    std::string_view front() const { return std::string_view(data_).substr(head_); }
    void consume(size_t count);
    // Frees the buffer kept for the next pieces.
    void release();

  private:
    size_t bound_;
    std::string data_;
    size_t head_ = 0;
};

// Where one viewer's bytes go.
class ViewerLink {
  public:
    virtual ~ViewerLink() = default;
    // Writes what it can without waiting: the bytes taken, or -1 when the link is broken.
    virtual long writeSome(const char* data, size_t count) = 0;
};

class FrameGroup;

class BroadcastViewer {
  public:
    BroadcastViewer(ViewerLink& link, size_t bound) : link_(link), queue_(bound) {}

    // Sends what it can now and queues the rest (beyond the bound too: text
    // outside frames is small); false when the link is broken.
    bool send(std::string_view bytes);
    // Writes queued bytes; false when the link is broken.
    bool flush();
    const OutputQueue& queue() const { return queue_; }
    // When the link last took bytes or had nothing to take.
    uint32_t lastProgress() const { return lastProgress_; }
    void noteTime(uint32_t now);
    uint32_t framesSent() const { return framesSent_; }
    uint32_t framesSkipped() const { return framesSkipped_; }
    bool showing() const { return group_ != nullptr; }

  private:
    friend class Broadcast;
    ViewerLink& link_;
    OutputQueue queue_;
    bool broken_ = false;
    uint32_t lastProgress_ = 0;
    uint32_t now_ = 0;
    FrameGroup* group_ = nullptr;
    bool inStep_ = false;
    // The cells of the frame last received, once it fell behind (kept for its next fall).
    std::vector<uint8_t> lastCells_;
    bool hasLastCells_ = false;
    uint32_t lastFrame_ = 0;
    uint32_t framesSent_ = 0;
    uint32_t framesSkipped_ = 0;
};

class Broadcast {
  public:
    Broadcast();
    ~Broadcast();
    Broadcast(const Broadcast&) = delete;
    Broadcast& operator=(const Broadcast&) = delete;

    // Puts a viewer into the group of `layout`; its next frame is complete.
    // False (and the viewer left out) when `maxGroups` groups exist and none fits.
    bool show(BroadcastViewer& viewer, const ViewerLayout& layout, size_t maxGroups);
    // Takes a viewer out of its group (a group nobody is in goes).
    void leave(BroadcastViewer& viewer);

    // Encodes the show's cells (SHOW_CELL_BYTES) for every group and hands them
    // to the viewers (those given to show() since the last frame included).
    void frame(const uint8_t* cells, const std::vector<BroadcastViewer*>& viewers);

    size_t groupCount() const { return groups_.size(); }
    uint32_t frameNumber() const { return frameNumber_; }

  private:
    std::string_view catchUp(FrameGroup& group, BroadcastViewer& viewer, const uint8_t* cells);

    std::list<std::unique_ptr<FrameGroup>> groups_;
    std::vector<uint8_t> previousCells_;
    uint32_t frameNumber_ = 0;
};
