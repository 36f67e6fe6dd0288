#pragma once

// The bytes of one received message, owned by whoever handles it next. A
// large message keeps the very block it was received into, so that its bytes
// are held once on their way from the socket to the decoder.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace korvex {

// Zero bytes after every payload's end: decoders read ahead of the data they
// are given (libavcodec up to 64 bytes), and may then read the payload in place.
inline constexpr size_t kPayloadPadding = 64;

class Payload {
 public:
  Payload() = default;
  Payload(Payload&&) = default;
  Payload& operator=(Payload&&) = default;
  // A copy has a block of its own, like a copied vector.
  Payload(const Payload& other) : Payload(copy_of(other.bytes())) {}
  Payload& operator=(const Payload& other) { return *this = copy_of(other.bytes()); }

  // A copy of `bytes` in a block of its own.
  static Payload copy_of(std::span<const uint8_t> bytes) {
    Payload p(std::unique_ptr<uint8_t[]>(new uint8_t[bytes.size() + kPayloadPadding]), 0,
              bytes.size());
    if (!bytes.empty()) {
      std::memcpy(p.block_.get(), bytes.data(), bytes.size());
    }
    std::memset(p.block_.get() + bytes.size(), 0, kPayloadPadding);
    return p;
  }

  // Takes over `block`, whose bytes [offset, offset + size) are the payload
  // and which has kPayloadPadding bytes of room after them, zeroed here.
  static Payload adopt(std::unique_ptr<uint8_t[]> block, size_t offset, size_t size) {
    std::memset(block.get() + offset + size, 0, kPayloadPadding);
    return Payload(std::move(block), offset, size);
  }

  const uint8_t* data() const { return block_.get() + offset_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<const uint8_t> bytes() const {
    return block_ ? std::span<const uint8_t>(data(), size_) : std::span<const uint8_t>();
  }

  // Gives the block up to an owner that frees it with delete[] when it is
  // done with the bytes, which data() points to until then.
  uint8_t* release() {
    size_ = 0;
    return block_.release();
  }

 private:
  Payload(std::unique_ptr<uint8_t[]> block, size_t offset, size_t size)
      : block_(std::move(block)), offset_(offset), size_(size) {}

  std::unique_ptr<uint8_t[]> block_;
  size_t offset_ = 0;
  size_t size_ = 0;
};

}  // namespace korvex
