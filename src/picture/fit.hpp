#pragma once

// Fitting a picture into another size: the whole source shown, its aspect
// ratio kept, the rest black. Same sizes copy; others scale bilinearly.

#include <cstdint>
#include <vector>

#include "picture/nv12_view.hpp"

namespace korvex::picture {

// Where a `source_width` x `source_height` picture lands inside a target of
// `target_width` x `target_height`: centred, as large as fits, every
// coordinate even so the chroma plane lines up.
struct Placement {
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};
Placement place(uint32_t source_width, uint32_t source_height, uint32_t target_width,
                uint32_t target_height);

// Keeps the filter tables between pictures, so fitting allocates only when
// the sizes change.
class Fitter {
 public:
  void fit(const ConstNv12View& source, const Nv12View& target);

 private:
  struct Tap {
    uint32_t first;   // index of the left (upper) sample
    uint32_t second;  // of the right (lower) one: first + 1, or first at the edge
    uint32_t weight;  // of the second, in 1/256
  };
  static void make_taps(uint32_t from, uint32_t to, std::vector<Tap>& taps);
  // Scales rows first across, then down: each source row is blended across
  // once however many target rows use it, and the blend down is plain runs
  // that vectorise.
  void scale_plane(const uint8_t* source, uint32_t source_pitch, uint32_t source_width,
                   uint32_t source_height, uint8_t* target, uint32_t target_pitch,
                   uint32_t target_width, uint32_t target_height, uint32_t channels);
  void scale_across(const uint8_t* source, uint32_t channels, uint16_t* out) const;

  std::vector<Tap> columns_;
  std::vector<Tap> rows_;
  // Source rows `upper_row_` and `lower_row_` scaled across, in 1/256 levels.
  std::vector<uint16_t> upper_;
  std::vector<uint16_t> lower_;
};

// Fills the whole view with black.
void fill_black(const Nv12View& target);

}  // namespace korvex::picture
