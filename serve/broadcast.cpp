#include "serve/broadcast.h"

#include <algorithm>
#include <cstring>

// The viewers of one layout: their encoder, the picture placed on their screen,
// and the bytes of the frame being handed out.
class FrameGroup {
  public:
    explicit FrameGroup(const ViewerLayout& layout)
        : layout(layout),
          columns(int16_t(SHOW_COLUMNS + layout.left)),
          rows(int16_t(SHOW_ROWS + layout.top)),
          encoder(layout.colors, columns, rows),
          screen(size_t(columns) * size_t(rows) * 4, 0) {
        encoder.setTerminalSize(layout.visibleColumns, layout.visibleRows);
    }

    // Puts the show's cells on the screen at the picture's place.
    void place(const uint8_t* cells) {
        for (int row = 0; row < SHOW_ROWS; ++row) {
            std::memcpy(
                &screen[(size_t(row + layout.top) * size_t(columns) + size_t(layout.left)) * 4],
                cells + size_t(row) * SHOW_COLUMNS * 4, SHOW_COLUMNS * 4);
        }
    }
    int32_t pitch() const { return columns * 4; }

    const ViewerLayout layout;
    const int16_t columns;
    const int16_t rows;
    TerminalEncoder encoder;
    std::unique_ptr<TerminalEncoder> catchUpEncoder;  // made when first needed
    std::vector<uint8_t> screen;
    std::string_view frameBytes;
    // The catch-up of this frame from the frame number `catchUpFrom` (shared by
    // the viewers that fell behind at the same frame).
    std::string catchUpBytes;
    uint32_t catchUpFrame = 0;
    uint32_t catchUpFrom = 0;
    bool catchUpValid = false;
    size_t viewers = 0;
};

void OutputQueue::push(std::string_view bytes) {
    if (head_ > 0 && head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    }
    data_.append(bytes);
}

void OutputQueue::consume(size_t count) {
    head_ += std::min(count, size());
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    } else if (head_ >= data_.size() / 2) {
        data_.erase(0, head_);
        head_ = 0;
    }
}

void OutputQueue::release() {
    std::string().swap(data_);
    head_ = 0;
}

void BroadcastViewer::noteTime(uint32_t now) {
    now_ = now;
    if (queue_.empty()) lastProgress_ = now;
}

bool BroadcastViewer::flush() {
    while (!broken_ && !queue_.empty()) {
        const std::string_view pending = queue_.front();
        const long written = link_.writeSome(pending.data(), pending.size());
        if (written < 0) {
            broken_ = true;
        } else if (written == 0) {
            break;
        } else {
            queue_.consume(size_t(written));
            lastProgress_ = now_;
        }
    }
    if (queue_.empty()) lastProgress_ = now_;
    return !broken_;
}

bool BroadcastViewer::send(std::string_view bytes) {
    if (broken_) return false;
    if (queue_.empty() && !bytes.empty()) {
        const long written = link_.writeSome(bytes.data(), bytes.size());
        if (written < 0) {
            broken_ = true;
            return false;
        }
        if (written > 0) lastProgress_ = now_;
        bytes.remove_prefix(size_t(written));
    }
    if (!bytes.empty()) queue_.push(bytes);
    return true;
}

Broadcast::Broadcast() = default;
Broadcast::~Broadcast() = default;

bool Broadcast::show(BroadcastViewer& viewer, const ViewerLayout& layout, size_t maxGroups) {
    leave(viewer);
    FrameGroup* group = nullptr;
    for (auto& candidate : groups_) {
        if (candidate->layout == layout) group = candidate.get();
    }
    if (group == nullptr) {
        if (groups_.size() >= maxGroups) return false;
        groups_.push_back(std::make_unique<FrameGroup>(layout));
        group = groups_.back().get();
        // Its encoder follows the frames from now on; it has shown nothing yet.
        if (!previousCells_.empty()) {
            group->place(previousCells_.data());
            group->encoder.encodeFrame(group->screen.data(), group->pitch());
        }
    }
    ++group->viewers;
    viewer.group_ = group;
    viewer.inStep_ = false;
    viewer.hasLastCells_ = false;
    return true;
}

void Broadcast::leave(BroadcastViewer& viewer) {
    FrameGroup* group = viewer.group_;
    if (group == nullptr) return;
    viewer.group_ = nullptr;
    viewer.inStep_ = false;
    if (--group->viewers == 0) {
        groups_.remove_if([group](const auto& candidate) { return candidate.get() == group; });
    }
}

std::string_view Broadcast::catchUp(FrameGroup& group, BroadcastViewer& viewer,
                                    const uint8_t* cells) {
    if (viewer.hasLastCells_ && group.catchUpValid && group.catchUpFrame == frameNumber_ &&
        group.catchUpFrom == viewer.lastFrame_) {
        return group.catchUpBytes;
    }
    if (!group.catchUpEncoder) {
        group.catchUpEncoder =
            std::make_unique<TerminalEncoder>(group.layout.colors, group.columns, group.rows);
        group.catchUpEncoder->setTerminalSize(group.layout.visibleColumns,
                                              group.layout.visibleRows);
    }
    TerminalEncoder& encoder = *group.catchUpEncoder;
    encoder.invalidate();
    if (viewer.hasLastCells_) {
        // The encoder learns what the viewer shows, then encodes the difference.
        group.place(viewer.lastCells_.data());
        encoder.encodeFrame(group.screen.data(), group.pitch());
        encoder.forgetCursor();
    }
    group.place(cells);
    const std::string_view bytes = encoder.encodeFrame(group.screen.data(), group.pitch());
    if (!viewer.hasLastCells_) return bytes;  // a complete frame: only this viewer's
    group.catchUpBytes.assign(bytes);
    group.catchUpFrame = frameNumber_;
    group.catchUpFrom = viewer.lastFrame_;
    group.catchUpValid = true;
    return group.catchUpBytes;
}

void Broadcast::frame(const uint8_t* cells, const std::vector<BroadcastViewer*>& viewers) {
    ++frameNumber_;
    for (auto& group : groups_) {
        group->place(cells);
        group->encoder.forgetCursor();
        group->frameBytes = group->encoder.encodeFrame(group->screen.data(), group->pitch());
    }
    for (BroadcastViewer* viewer : viewers) {
        FrameGroup* group = viewer->group_;
        if (group == nullptr || viewer->broken_) continue;
        if (viewer->inStep_) {
            if (viewer->queue_.canTake(group->frameBytes.size())) {
                viewer->send(group->frameBytes);
                ++viewer->framesSent_;
                continue;
            }
            // Falls behind: remember what it shows, the frame before this one.
            viewer->inStep_ = false;
            viewer->lastCells_.assign(previousCells_.begin(), previousCells_.end());
            viewer->hasLastCells_ = true;
            viewer->lastFrame_ = frameNumber_ - 1;
        }
        if (!viewer->queue_.empty()) {
            ++viewer->framesSkipped_;
            continue;
        }
        viewer->send(catchUp(*group, *viewer, cells));
        viewer->inStep_ = true;
        ++viewer->framesSent_;
    }
    previousCells_.assign(cells, cells + SHOW_CELL_BYTES);
    // Groups are only ever compared against this frame number: nothing stale is reused.
}
