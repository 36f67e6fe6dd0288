#pragma once

// Copying one NV12 picture out of a Media Foundation sample into a tightly
// packed Nv12Frame. Used for decoder output and for camera samples.

#include <windows.h>
// windows.h must come first.
#include <mfobjects.h>

#include <cstdint>

#include "common/nv12_frame.hpp"
#include "common/result.hpp"
#include "decoder/sps_picture.hpp"

namespace korvex::decoder {

// `width` x `height` is the coded surface in the sample, `stride` the bytes
// per row of a contiguous buffer; `visible` the part of it that is the
// picture. Luma rows and the chroma plane behind all `height` coded luma rows
// are copied for the visible rectangle only. The frame's time is the
// sample's, or `fallback_pts_us` when the sample has none. `frame` is
// overwritten whole; its buffer is reused when large enough, so a decoder
// that keeps its frames allocates none per picture.
Result<void> copy_nv12_into(IMFSample* sample, uint32_t width, uint32_t height, uint32_t stride,
                            uint64_t fallback_pts_us, const VisibleArea& visible, Nv12Frame& frame);

// The same into a new frame.
inline Result<Nv12Frame> copy_nv12(IMFSample* sample, uint32_t width, uint32_t height,
                                   uint32_t stride, uint64_t fallback_pts_us,
                                   const VisibleArea& visible) {
  Nv12Frame frame;
  if (auto copied = copy_nv12_into(sample, width, height, stride, fallback_pts_us, visible, frame);
      !copied) {
    return fail(copied.error());
  }
  return frame;
}

// The whole coded surface is the picture.
inline Result<Nv12Frame> copy_nv12(IMFSample* sample, uint32_t width, uint32_t height,
                                   uint32_t stride, uint64_t fallback_pts_us) {
  return copy_nv12(sample, width, height, stride, fallback_pts_us, {0, 0, width, height});
}

}  // namespace korvex::decoder
