// What the fuzz targets share: a check that stops the run on a wrong result
// (libFuzzer keeps the input as a crash), and a reader of the fuzz bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A wrong result is a crash: the input is kept and the run fails.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, \
                         #condition);                                                    \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

namespace fuzz {

// Takes values from the fuzz input; once it is used up every value is 0.
class Bytes {
  public:
    Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    bool flag() { return (u8() & 1) != 0; }
    // A value below bound (bound > 0).
    uint32_t below(uint32_t bound) { return bound > 256 ? u32() % bound : u8() % bound; }
    // Up to n bytes of the input (fewer when it runs out), as given.
    std::size_t take(uint8_t* out, std::size_t n) {
        const std::size_t k = n < size_ - pos_ ? n : size_ - pos_;
        if (k > 0) std::memcpy(out, data_ + pos_, k);
        pos_ += k;
        return k;
    }
    std::size_t left() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace fuzz
