#pragma once

// A decoded 8-bit 4:2:0 picture where the decoder keeps it: planes with row
// pitches, the chroma either interleaved (NV12) or as separate Cb and Cr
// planes. Borrowed, valid only as long as its owner says; the frame section
// packs it into NV12 as it copies it in, so a picture is copied once on its
// way out of the decoder.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <emmintrin.h>

#include "common/nv12_frame.hpp"

namespace korvex {

struct Picture {
  const uint8_t* luma = nullptr;  // `height` rows of `width` bytes
  ptrdiff_t luma_pitch = 0;
  // Interleaved: `cb` holds height / 2 rows of `width` Cb, Cr bytes, `cr` is
  // null. Planar: `cb` and `cr` hold height / 2 rows of (width + 1) / 2 bytes.
  const uint8_t* cb = nullptr;
  const uint8_t* cr = nullptr;
  ptrdiff_t chroma_pitch = 0;
  uint64_t timestamp_us = 0;
  uint32_t width = 0;
  uint32_t height = 0;

  bool planar() const { return cr != nullptr; }
  uint64_t nv12_size() const { return uint64_t{width} * height * 3 / 2; }
};

// Views a packed frame, which lives as long as `frame`.
inline Picture picture_of(const Nv12Frame& frame) {
  const uint8_t* data = frame.data.data();
  const auto pitch = static_cast<ptrdiff_t>(frame.width);  // an int on 32-bit Windows
  return Picture{data,        pitch,       data + size_t{frame.width} * frame.height,
                 nullptr,     pitch,       frame.timestamp_us,
                 frame.width, frame.height};
}

// Writes chroma row `r` of `picture` as NV12 (interleaved Cb, Cr; `width`
// bytes) into `out`, starting `from` bytes into the row and writing `count`
// bytes; `from` is even.
inline void nv12_chroma_row(const Picture& picture, uint32_t r, uint32_t from, uint32_t count,
                            uint8_t* out) {
  if (!picture.planar()) {
    std::memcpy(out, picture.cb + r * picture.chroma_pitch + from, count);
    return;
  }
  const uint8_t* cb = picture.cb + r * picture.chroma_pitch + from / 2;
  const uint8_t* cr = picture.cr + r * picture.chroma_pitch + from / 2;
  // Sixteen pairs a step in SSE2, which every x86-64 processor has: GCC does
  // not vectorise a loop of byte pairs below -O3, and the sanitizer build,
  // which also runs the video tests at full rate, is built at -O1.
  const uint32_t pairs = count / 2;
  uint32_t i = 0;
  for (; i + 16 <= pairs; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(b, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(b, r));
  }
  for (; i < pairs; ++i) {
    out[2 * i] = cb[i];
    out[2 * i + 1] = cr[i];
  }
  if (count % 2 != 0) {
    out[count - 1] = cb[pairs];  // an odd width ends on a Cb byte
  }
}

// Packs a picture into a frame of its own (for the rare consumer that keeps one).
inline Nv12Frame pack_nv12(const Picture& picture) {
  Nv12Frame frame;
  frame.width = picture.width;
  frame.height = picture.height;
  frame.timestamp_us = picture.timestamp_us;
  frame.data.resize(picture.nv12_size());
  uint8_t* out = frame.data.data();
  for (uint32_t r = 0; r < picture.height; ++r, out += picture.width) {
    std::memcpy(out, picture.luma + r * picture.luma_pitch, picture.width);
  }
  for (uint32_t r = 0; r < picture.height / 2; ++r, out += picture.width) {
    nv12_chroma_row(picture, r, 0, picture.width, out);
  }
  return frame;
}

}  // namespace korvex
