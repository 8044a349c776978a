#include "scenekit/state_record.h"

#include <cstring>

void StateRecord::keepBytes(void* data, size_t size) {
    if (size == 0) return;
    auto* bytes = static_cast<uint8_t*>(data);
    if (saving_) {
        bytes_.insert(bytes_.end(), bytes, bytes + size);
        return;
    }
    if (size > bytes_.size() - readAt_) {
        shortRead_ = true;
        readAt_ = bytes_.size();
        return;
    }
    std::memcpy(bytes, bytes_.data() + readAt_, size);
    readAt_ += size;
}
