#include "section/frame_section.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

#include <emmintrin.h>

#include <fmt/format.h>

namespace korvex::section {
namespace {

// Offsets of the fields that are stored as whole 8-byte words.
constexpr uint64_t kMagicVersion = 0;  // magic | version << 32
constexpr uint64_t kGeometry = 8;      // slot_count | slot_size << 32
constexpr uint64_t kFrameCounter = 16;
constexpr uint64_t kActivityTick = 24;

constexpr uint64_t kSequence = 0;
constexpr uint64_t kTimestamp = 8;
constexpr uint64_t kWidth = 16;
constexpr uint64_t kHeight = 20;
constexpr uint64_t kFormat = 24;
constexpr uint64_t kStride = 28;
constexpr uint64_t kDataSize = 32;

// Another thread or process may touch the same bytes at any time, so every
// access to the section is atomic, except the writer's streaming stores of a
// picture's bytes. Within a slot the writer's fields are release stores, the
// streamed bytes are fenced in between the odd and the even sequence, and
// everything the reader loads before its second look at the sequence is an
// acquire load: a reader that sees any byte of a newer frame then also sees
// the sequence that announced it. (Atomics are plain moves on x86 and, unlike
// fences around plain stores, ThreadSanitizer follows them; it does not see
// the streamed bytes.)
template <class T>
std::atomic_ref<T> field(const uint8_t* at) {
  return std::atomic_ref<T>(*reinterpret_cast<T*>(const_cast<uint8_t*>(at)));
}

// The pictures' bytes go straight to memory: a slot was last written three
// pictures ago and is out of the caches by now, and ordinary stores would
// first read every line of it back (a 1080p picture took 0.33 ms that way
// on a quiet machine, 0.09 ms streamed). Streaming stores are not ordered
// with the ordinary ones around them, hence the fences in publish_frame.
void stream_bytes(uint8_t* to, const uint8_t* from, uint64_t size) {
  uint64_t i = 0;
  // Rows of a picture whose width is not a multiple of 16 start anywhere.
  for (; i < size && reinterpret_cast<uintptr_t>(to + i) % 16 != 0; ++i) {
    field<uint8_t>(to + i).store(from[i], std::memory_order_release);
  }
  for (; i + 16 <= size; i += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + i),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
  }
  for (; i < size; ++i) {
    field<uint8_t>(to + i).store(from[i], std::memory_order_release);
  }
}

void load_bytes(uint8_t* to, const uint8_t* from, uint64_t size) {
  uint64_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const uint64_t word = field<uint64_t>(from + i).load(std::memory_order_acquire);
    std::memcpy(to + i, &word, 8);
  }
  for (; i < size; ++i) {
    to[i] = field<uint8_t>(from + i).load(std::memory_order_acquire);
  }
}

}  // namespace

uint64_t slot_offset(const SectionGeometry& geometry, uint64_t slot) {
  return kHeaderSize + slot * (kSlotHeaderSize + geometry.slot_size);
}

SectionHeader read_header(const uint8_t* section) {
  SectionHeader header;
  const uint64_t magic_version =
      field<uint64_t>(section + kMagicVersion).load(std::memory_order_acquire);
  const uint64_t geometry = field<uint64_t>(section + kGeometry).load(std::memory_order_relaxed);
  header.magic = static_cast<uint32_t>(magic_version);
  header.version = static_cast<uint32_t>(magic_version >> 32);
  header.slot_count = static_cast<uint32_t>(geometry);
  header.slot_size = static_cast<uint32_t>(geometry >> 32);
  header.frame_counter = field<uint64_t>(section + kFrameCounter).load(std::memory_order_acquire);
  header.activity_tick = field<uint64_t>(section + kActivityTick).load(std::memory_order_relaxed);
  return header;
}

Result<SectionGeometry> validate_header(const SectionHeader& header) {
  if (header.magic != kSectionMagic) {
    return fail(
        fmt::format("frame section magic {:#x}, expected {:#x}", header.magic, kSectionMagic));
  }
  if (header.version != kSectionVersion) {
    return fail(
        fmt::format("frame section version {}, expected {}", header.version, kSectionVersion));
  }
  if (header.slot_count < 1 || header.slot_count > kMaxSlotCount ||
      header.slot_size > kMaxSlotSize) {
    return fail(fmt::format("frame section geometry {} x {} unsupported", header.slot_count,
                            header.slot_size));
  }
  if (header.slot_size % 8 != 0) {
    return fail(fmt::format("frame section slot size {} not 8-byte aligned", header.slot_size));
  }
  return SectionGeometry{header.slot_count, header.slot_size};
}

Result<SectionGeometry> adopt_section(uint8_t* section) {
  const SectionHeader found = read_header(section);
  if (found.magic != 0) {
    return validate_header(found);
  }
  // Geometry and counters first, magic last: a reader that sees the magic
  // sees a complete header.
  field<uint64_t>(section + kGeometry)
      .store(kMaxSlotCount | kMaxSlotSize << 32, std::memory_order_relaxed);
  field<uint64_t>(section + kFrameCounter).store(0, std::memory_order_relaxed);
  field<uint64_t>(section + kActivityTick).store(0, std::memory_order_relaxed);
  field<uint64_t>(section + kMagicVersion)
      .store(kSectionMagic | uint64_t{kSectionVersion} << 32, std::memory_order_release);
  return SectionGeometry{kMaxSlotCount, kMaxSlotSize};
}

void publish_frame(uint8_t* section, const SectionGeometry& geometry, const Picture& picture,
                   uint64_t tick) {
  // We are the only writer, so the counter we read is the one we stored last.
  const uint64_t n = field<uint64_t>(section + kFrameCounter).load(std::memory_order_relaxed) + 1;
  uint8_t* slot = section + slot_offset(geometry, n % geometry.slot_count);
  const auto data_size = static_cast<uint32_t>(picture.nv12_size());
  const uint32_t width = picture.width;

  field<uint64_t>(slot + kSequence).store(2 * n - 1, std::memory_order_release);
  field<uint64_t>(slot + kTimestamp).store(picture.timestamp_us, std::memory_order_release);
  field<uint32_t>(slot + kWidth).store(width, std::memory_order_release);
  field<uint32_t>(slot + kHeight).store(picture.height, std::memory_order_release);
  field<uint32_t>(slot + kFormat).store(kFormatNv12, std::memory_order_release);
  field<uint32_t>(slot + kStride).store(width, std::memory_order_release);
  field<uint32_t>(slot + kDataSize).store(data_size, std::memory_order_release);
  _mm_sfence();  // the odd sequence is out before any byte of the picture
  // Planes whose rows follow one another go in as one run each.
  uint8_t* image = slot + kSlotHeaderSize;
  const uint32_t chroma_rows = picture.height / 2;
  if (picture.luma_pitch == static_cast<ptrdiff_t>(width)) {
    stream_bytes(image, picture.luma, uint64_t{width} * picture.height);
  } else {
    for (uint32_t r = 0; r < picture.height; ++r) {
      stream_bytes(image + size_t{r} * width, picture.luma + r * picture.luma_pitch, width);
    }
  }
  image += size_t{width} * picture.height;
  if (!picture.planar() && picture.chroma_pitch == static_cast<ptrdiff_t>(width)) {
    stream_bytes(image, picture.cb, uint64_t{width} * chroma_rows);
  } else if (!picture.planar()) {
    for (uint32_t r = 0; r < chroma_rows; ++r) {
      stream_bytes(image + size_t{r} * width, picture.cb + r * picture.chroma_pitch, width);
    }
  } else {
    // Interleaved through a small buffer that stays in the first-level cache.
    constexpr uint32_t kChunk = 2048;
    uint8_t row[kChunk];
    for (uint32_t r = 0; r < chroma_rows; ++r, image += width) {
      for (uint32_t from = 0; from < width; from += kChunk) {
        const uint32_t count = std::min(kChunk, width - from);
        nv12_chroma_row(picture, r, from, count, row);
        stream_bytes(image + from, row, count);
      }
    }
  }
  _mm_sfence();  // every byte of the picture is out before the even sequence
  field<uint64_t>(slot + kSequence).store(2 * n, std::memory_order_release);

  field<uint64_t>(section + kFrameCounter).store(n, std::memory_order_release);
  store_activity_tick(section, tick);
}

void store_activity_tick(uint8_t* section, uint64_t tick) {
  field<uint64_t>(section + kActivityTick).store(tick, std::memory_order_relaxed);
}

SlotCopy copy_slot(const uint8_t* section, const SectionGeometry& geometry, uint64_t slot,
                   SlotFrame& out) {
  const uint8_t* at = section + slot_offset(geometry, slot);
  const uint64_t before = field<uint64_t>(at + kSequence).load(std::memory_order_acquire);
  if (before == 0) {
    return SlotCopy::empty;
  }
  if (before % 2 != 0) {
    return SlotCopy::torn;
  }
  const uint64_t timestamp = field<uint64_t>(at + kTimestamp).load(std::memory_order_acquire);
  const uint32_t width = field<uint32_t>(at + kWidth).load(std::memory_order_acquire);
  const uint32_t height = field<uint32_t>(at + kHeight).load(std::memory_order_acquire);
  const uint32_t format = field<uint32_t>(at + kFormat).load(std::memory_order_acquire);
  const uint32_t stride = field<uint32_t>(at + kStride).load(std::memory_order_acquire);
  const uint32_t data_size = field<uint32_t>(at + kDataSize).load(std::memory_order_acquire);
  // Never trust the slot header to stay inside the slot, nor to describe a
  // picture other than the packed NV12 one the writer publishes.
  const uint64_t packed = uint64_t{width} * height * 3 / 2;
  const bool fits = format == kFormatNv12 && stride == width && width != 0 && height != 0 &&
                    width % 2 == 0 && height % 2 == 0 && packed <= geometry.slot_size &&
                    data_size == packed;
  if (fits) {
    out.data.resize(data_size);
    load_bytes(out.data.data(), at + kSlotHeaderSize, data_size);
  }
  if (field<uint64_t>(at + kSequence).load(std::memory_order_acquire) != before) {
    return SlotCopy::torn;
  }
  if (!fits) {
    return SlotCopy::malformed;
  }
  out.number = before / 2;
  out.timestamp_us = timestamp;
  out.width = width;
  out.height = height;
  return SlotCopy::complete;
}

SlotCopy copy_newest(const uint8_t* section, const SectionGeometry& geometry, SlotFrame& out) {
  const uint64_t n = field<uint64_t>(section + kFrameCounter).load(std::memory_order_acquire);
  if (n == 0) {
    return SlotCopy::empty;
  }
  const SlotCopy result = copy_slot(section, geometry, n % geometry.slot_count, out);
  if (result == SlotCopy::complete && out.number < n) {
    return SlotCopy::malformed;  // the counter names a frame its slot never held
  }
  if (result == SlotCopy::empty) {
    return SlotCopy::malformed;  // a counter past 0 with its slot never written
  }
  return result;
}

}  // namespace korvex::section
