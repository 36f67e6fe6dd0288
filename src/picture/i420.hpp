#pragma once

// I420 for DirectShow programs that want planar chroma: the luma plane, then
// all Cb samples, then all Cr samples, each chroma plane at half the pitch.

#include <cstdint>

#include "picture/nv12_view.hpp"

namespace korvex::picture {

// `target_pitch` is the luma plane's and even; the chroma planes follow the
// luma plane at target_pitch / 2 bytes a row.
void nv12_to_i420(const ConstNv12View& source, uint8_t* target, uint32_t target_pitch);

}  // namespace korvex::picture
