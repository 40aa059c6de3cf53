#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The large buffers of a catalogue load (the index texts, the rows, the saved
// list's bytes) are touched once page by page as they fill. Where a page fault
// is dear (a virtual machine) that costs more than the work done on them, so
// such a buffer asks for huge pages before its first touch: one fault then
// brings in 2 MB. A buffer too small to hold a huge page is left alone, and a
// system without them simply ignores the request.
namespace HugePages {

// Asks for huge pages over the whole 2 MB pages inside [data, data + bytes).
void Advise(const void* data, std::size_t bytes);

// A block of fresh memory that is never moved: at least 2 MB asks for huge
// pages over all of it; a smaller one is plain heap memory.
class TBlock {
public:
    explicit TBlock(std::size_t bytes);
    TBlock(TBlock&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(other.size_), mapped_(other.mapped_) {}
    // The two blocks change hands: the one given up goes with Other.
    TBlock& operator=(TBlock&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(mapped_, other.mapped_);
        return *this;
    }
    ~TBlock();
    char* Data() const { return data_; }
    std::size_t Size() const { return size_; }

private:
    char* data_;
    std::size_t size_;
    bool mapped_;
};

// Reserve, with the new room advised. Room already there is left as it is.
template <class T> void Reserve(std::vector<T>& buffer, std::size_t count) {
    if (buffer.capacity() >= count)
        return;
    buffer.reserve(count);
    Advise(buffer.data(), buffer.capacity() * sizeof(T));
}

inline void Reserve(std::string& buffer, std::size_t bytes) {
    if (buffer.capacity() >= bytes)
        return;
    buffer.reserve(bytes);
    Advise(buffer.data(), buffer.capacity());
}

} // namespace HugePages
