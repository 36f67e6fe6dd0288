#pragma once

// YUY2 for camera applications on the older capture path: Y0 Cb Y1 Cr per
// pair of pixels, each chroma row of NV12 shared by two rows.

#include <cstdint>

#include "picture/nv12_view.hpp"

namespace korvex::picture {

void nv12_to_yuy2(const ConstNv12View& source, uint8_t* target, uint32_t target_pitch);

}  // namespace korvex::picture
