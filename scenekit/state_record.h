#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

// The state that carries from one frame to the next, copied out to a byte
// record or back from it. Whoever keeps state lists it with keep(), in the same
// order both ways, so that a run can be put back to an earlier moment.
class StateRecord {
  public:
    // Starts a new record (its memory is kept for the next one).
    void startSaving() {
        bytes_.clear();
        saving_ = true;
    }
    // Reads the record back from its first byte on.
    void startRestoring() {
        readAt_ = 0;
        saving_ = false;
        shortRead_ = false;
    }
    template <class T>
    void keep(T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        keepBytes(&value, sizeof(T));
    }
    // Appends the bytes when saving; copies them back when restoring. A record
    // read past its end leaves the rest as it is and is marked short.
    void keepBytes(void* data, size_t size);
    // Room for a record of `size` bytes, so that saving one grows no further.
    void reserve(size_t size) { bytes_.reserve(size); }
    size_t size() const { return bytes_.size(); }
    bool saving() const { return saving_; }
    bool shortRead() const { return shortRead_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t readAt_ = 0;
    bool saving_ = true;
    bool shortRead_ = false;
};
