#include "picture/fit.hpp"

#include <algorithm>
#include <cstring>

namespace korvex::picture {

Placement place(uint32_t source_width, uint32_t source_height, uint32_t target_width,
                uint32_t target_height) {
  Placement p{0, 0, target_width, target_height};
  if (source_width == 0 || source_height == 0) {
    return p;
  }
  // Compare w / h with W / H without rounding: w * H against W * h.
  const uint64_t wide = uint64_t{source_width} * target_height;
  const uint64_t tall = uint64_t{target_width} * source_height;
  if (wide > tall) {  // wider than the target: bars above and below
    p.height = static_cast<uint32_t>(tall / source_width) & ~1u;
  } else if (wide < tall) {  // narrower: bars left and right
    p.width = static_cast<uint32_t>(wide / source_height) & ~1u;
  }
  p.width = std::max<uint32_t>(p.width, 2);
  p.height = std::max<uint32_t>(p.height, 2);
  p.x = ((target_width - p.width) / 2) & ~1u;
  p.y = ((target_height - p.height) / 2) & ~1u;
  return p;
}

void fill_black(const Nv12View& target) {
  for (uint32_t row = 0; row < target.height; ++row) {
    std::memset(target.y + uint64_t{row} * target.pitch, kBlackLuma, target.width);
  }
  for (uint32_t row = 0; row < target.height / 2; ++row) {
    std::memset(target.uv + uint64_t{row} * target.pitch, kNeutralChroma, target.width);
  }
}

void Fitter::make_taps(uint32_t from, uint32_t to, std::vector<Tap>& taps) {
  taps.resize(to);
  // Sample centres line up: target i sits at source (i + 0.5) * from / to - 0.5.
  for (uint32_t i = 0; i < to; ++i) {
    const int64_t at = ((2 * int64_t{i} + 1) * from * 256) / (2 * int64_t{to}) - 128;
    if (at <= 0) {
      taps[i] = {0, 0, 0};
    } else if (at >= int64_t{from - 1} * 256) {
      taps[i] = {from - 1, from - 1, 0};
    } else {
      const auto first = static_cast<uint32_t>(at / 256);
      taps[i] = {first, first + 1, static_cast<uint32_t>(at % 256)};
    }
  }
}

void Fitter::scale_across(const uint8_t* source, uint32_t channels, uint16_t* out) const {
  for (const Tap& c : columns_) {
    const uint8_t* left = source + c.first * channels;
    const uint8_t* right = source + c.second * channels;
    for (uint32_t k = 0; k < channels; ++k) {
      *out++ = static_cast<uint16_t>(left[k] * (256 - c.weight) + right[k] * c.weight);
    }
  }
}

void Fitter::scale_plane(const uint8_t* source, uint32_t source_pitch, uint32_t source_width,
                         uint32_t source_height, uint8_t* target, uint32_t target_pitch,
                         uint32_t target_width, uint32_t target_height, uint32_t channels) {
  make_taps(source_width, target_width, columns_);
  make_taps(source_height, target_height, rows_);
  const uint32_t samples = target_width * channels;
  upper_.resize(samples);
  lower_.resize(samples);
  // Which source rows the two buffers hold; none yet.
  uint32_t upper_row = source_height;
  uint32_t lower_row = source_height;
  for (uint32_t row = 0; row < target_height; ++row) {
    const Tap r = rows_[row];
    if (upper_row != r.first) {
      if (lower_row == r.first) {  // going down, the lower row becomes the upper one
        std::swap(upper_, lower_);
        std::swap(upper_row, lower_row);
      } else {
        scale_across(source + uint64_t{r.first} * source_pitch, channels, upper_.data());
        upper_row = r.first;
      }
    }
    if (r.weight != 0 && lower_row != r.second) {
      scale_across(source + uint64_t{r.second} * source_pitch, channels, lower_.data());
      lower_row = r.second;
    }
    const uint16_t* upper = upper_.data();
    const uint16_t* lower = r.weight != 0 ? lower_.data() : upper;
    const uint32_t upper_weight = 256 - r.weight;
    uint8_t* out = target + uint64_t{row} * target_pitch;
    for (uint32_t i = 0; i < samples; ++i) {
      out[i] = static_cast<uint8_t>((upper[i] * upper_weight + lower[i] * r.weight + 32768) >> 16);
    }
  }
}

void Fitter::fit(const ConstNv12View& source, const Nv12View& target) {
  if (source.width == target.width && source.height == target.height) {
    for (uint32_t row = 0; row < target.height; ++row) {
      std::memcpy(target.y + uint64_t{row} * target.pitch, source.y + uint64_t{row} * source.pitch,
                  target.width);
    }
    for (uint32_t row = 0; row < target.height / 2; ++row) {
      std::memcpy(target.uv + uint64_t{row} * target.pitch,
                  source.uv + uint64_t{row} * source.pitch, target.width);
    }
    return;
  }
  const Placement p = place(source.width, source.height, target.width, target.height);
  if (p.width != target.width || p.height != target.height) {
    fill_black(target);
  }
  scale_plane(source.y, source.pitch, source.width, source.height,
              target.y + uint64_t{p.y} * target.pitch + p.x, target.pitch, p.width, p.height, 1);
  scale_plane(source.uv, source.pitch, source.width / 2, source.height / 2,
              target.uv + uint64_t{p.y / 2} * target.pitch + p.x, target.pitch, p.width / 2,
              p.height / 2, 2);
}

}  // namespace korvex::picture
