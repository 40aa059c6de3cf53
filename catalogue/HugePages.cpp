#include "catalogue/HugePages.h"

#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace HugePages {
namespace {
constexpr std::uintptr_t Huge = std::uintptr_t(2) << 20;
}

TBlock::TBlock(std::size_t bytes) : size_(bytes), mapped_(bytes >= Huge) {
    if (!mapped_) {
        data_ = new char[bytes];
        return;
    }
    // Mapped with a huge page's room to spare, then trimmed to a whole number
    // of huge pages that start on a huge page's boundary.
    size_ = (bytes + Huge - 1) & ~(Huge - 1);
    void* mapped =
        ::mmap(nullptr, size_ + Huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + Huge - 1) & ~(Huge - 1);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (const std::uintptr_t tail = start + size_ + Huge - (aligned + size_))
        ::munmap(reinterpret_cast<void*>(aligned + size_), tail);
    data_ = reinterpret_cast<char*>(aligned);
    ::madvise(data_, size_, MADV_HUGEPAGE);
}

TBlock::~TBlock() {
    if (!data_)
        return;
    if (mapped_)
        ::munmap(data_, size_);
    else
        delete[] data_;
}

void Advise(const void* data, std::size_t bytes) {
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + Huge - 1) & ~(Huge - 1);
    const std::uintptr_t last = (start + bytes) & ~(Huge - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

} // namespace HugePages
