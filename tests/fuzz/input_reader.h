// Reads a fuzz input front to back. Past the end every read gives 0 or nothing, so that any
// input, however short, is a complete case. Kept to the front so that seed files can be
// written by hand: fields first, frames after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

class InputReader {
  public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return pos_ >= size_; }
    size_t Left() const { return size_ - pos_; }

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t Word() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t Long() {
        const uint32_t low = Word();
        return low | (uint32_t{Word()} << 16);
    }
    // Up to n bytes, fewer at the end of the input.
    std::span<const uint8_t> Bytes(size_t n) {
        if (n > Left()) n = Left();
        std::span<const uint8_t> out(data_ + pos_, n);
        pos_ += n;
        return out;
    }
    // A chunk: a length byte and that many bytes; the length 0xFF is followed by a 16-bit
    // length (low byte first) for chunks longer than 254 bytes.
    std::span<const uint8_t> Chunk() {
        size_t n = Byte();
        if (n == 0xFF) n = Word();
        return Bytes(n);
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A broken invariant: says which and stops with a crash that libFuzzer records.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
