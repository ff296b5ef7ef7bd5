// A block of bytes with an inaccessible page on each side, so that any
// access past the chosen edge faults at once instead of reading or writing
// a neighbour. Used for the 4 KB window (its end at the guard) and for body
// buffers (either edge at a guard).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace cmtest {

class GuardedBytes {
public:
    enum class Edge { End, Start }; // which edge of the block touches a guard page

    explicit GuardedBytes(std::size_t size, Edge edge = Edge::End) : size_(size) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        inner_ = (size + page_ - 1) / page_ * page_;
        total_ = inner_ + 2 * page_;
        void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) std::abort();
        base_ = static_cast<std::uint8_t*>(p);
        if (mprotect(base_, page_, PROT_NONE) != 0) std::abort();
        if (mprotect(base_ + page_ + inner_, page_, PROT_NONE) != 0) std::abort();
        data_ = edge == Edge::End ? base_ + page_ + inner_ - size_ : base_ + page_;
    }
    ~GuardedBytes() { munmap(base_, total_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    std::uint8_t* data() { return data_; }
    std::size_t size() const { return size_; }
    std::vector<std::uint8_t> bytes() const { return {data_, data_ + size_}; }

    // Copies the image in (sizes must agree) and leaves the block writable.
    void load(const std::vector<std::uint8_t>& image) {
        writable(true);
        if (image.size() != size_) std::abort();
        std::memcpy(data_, image.data(), size_);
    }
    // A read-only block makes any write into it fault as well.
    void writable(bool yes) {
        if (mprotect(base_ + page_, inner_, yes ? PROT_READ | PROT_WRITE : PROT_READ) != 0) std::abort();
    }

private:
    std::size_t size_, page_, inner_, total_;
    std::uint8_t* base_;
    std::uint8_t* data_;
};

} // namespace cmtest
