#pragma once

// The picture a camera shows while no phone is streaming: a calm dark
// background that says so, because a black frame looks like a broken camera.

#include "picture/nv12_view.hpp"

namespace korvex::picture {

// The background's luma at the top row; it darkens a little towards the bottom.
inline constexpr uint8_t kPlaceholderTopLuma = 52;

void draw_placeholder(const Nv12View& target);

}  // namespace korvex::picture
