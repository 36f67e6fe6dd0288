#pragma once

// Pictures as capture devices deliver them, turned into tightly packed NV12.

#include <cstdint>
#include <span>

#include "common/nv12_frame.hpp"
#include "common/result.hpp"

namespace korvex::camera {

// NV12 whose rows are `stride` bytes apart, the chroma plane right after
// `height` luma rows.
Result<Nv12Frame> nv12_from_nv12(std::span<const uint8_t> bytes, uint32_t stride, uint32_t width,
                                 uint32_t height);

// YUYV (YUY2): Y0 U Y1 V for every two pixels, rows `stride` bytes apart.
// Each chroma sample of the NV12 picture averages the two rows it covers.
Result<Nv12Frame> nv12_from_yuyv(std::span<const uint8_t> bytes, uint32_t stride, uint32_t width,
                                 uint32_t height);

}  // namespace korvex::camera
