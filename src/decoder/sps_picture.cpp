#include "decoder/sps_picture.hpp"

#include <vector>

namespace korvex::decoder {
namespace {

// Reads the RBSP bits of a NAL payload: big-endian bits, Exp-Golomb codes.
// Reading past the end sets `overrun` and yields zeros, so one check at the
// end catches a truncated unit.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint32_t bit() {
    if (position_ >= bytes_.size() * 8) {
      overrun_ = true;
      return 0;
    }
    const uint32_t value = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u;
    ++position_;
    return value;
  }

  uint32_t bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      value = (value << 1) | bit();
    }
    return value;
  }

  // ue(v); codes longer than 32 bits are malformed in an SPS.
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (overrun_ || ++zeros > 31) {
        overrun_ = true;
        return 0;
      }
    }
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
  }

  // se(v)
  int64_t se() {
    const uint32_t code = ue();
    const int64_t magnitude = (int64_t{code} + 1) / 2;
    return (code & 1u) != 0 ? magnitude : -magnitude;
  }

  bool overrun() const { return overrun_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
  bool overrun_ = false;
};

// Drops the emulation-prevention byte of every 00 00 03 sequence.
std::vector<uint8_t> unescape(std::span<const uint8_t> payload) {
  std::vector<uint8_t> out;
  out.reserve(payload.size());
  int zeros = 0;
  for (const uint8_t b : payload) {
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  return out;
}

void skip_scaling_list(BitReader& reader, int size) {
  int64_t last = 8;
  int64_t next = 8;
  for (int j = 0; j < size && !reader.overrun(); ++j) {
    if (next != 0) {
      next = ((last + reader.se()) % 256 + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

bool has_chroma_format(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<SpsPicture> parse_sps(std::span<const uint8_t> payload) {
  const std::vector<uint8_t> rbsp = unescape(payload);
  BitReader r(rbsp);

  const uint32_t profile_idc = r.bits(8);
  r.bits(16);  // constraint flags, level_idc
  r.ue();      // seq_parameter_set_id
  uint32_t chroma_format_idc = 1;
  bool separate_colour_planes = false;
  if (has_chroma_format(profile_idc)) {
    chroma_format_idc = r.ue();
    if (chroma_format_idc > 3) {
      return std::nullopt;
    }
    if (chroma_format_idc == 3) {
      separate_colour_planes = r.bit() != 0;
    }
    r.ue();              // bit_depth_luma_minus8
    r.ue();              // bit_depth_chroma_minus8
    r.bit();             // qpprime_y_zero_transform_bypass_flag
    if (r.bit() != 0) {  // seq_scaling_matrix_present_flag
      const int lists = chroma_format_idc != 3 ? 8 : 12;
      for (int i = 0; i < lists && !r.overrun(); ++i) {
        if (r.bit() != 0) {
          skip_scaling_list(r, i < 6 ? 16 : 64);
        }
      }
    }
  }
  r.ue();  // log2_max_frame_num_minus4
  const uint32_t poc_type = r.ue();
  if (poc_type == 0) {
    r.ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (poc_type == 1) {
    r.bit();  // delta_pic_order_always_zero_flag
    r.se();   // offset_for_non_ref_pic
    r.se();   // offset_for_top_to_bottom_field
    const uint32_t cycle = r.ue();
    if (cycle > 255) {
      return std::nullopt;
    }
    for (uint32_t i = 0; i < cycle && !r.overrun(); ++i) {
      r.se();
    }
  } else if (poc_type > 2) {
    return std::nullopt;
  }
  r.ue();   // max_num_ref_frames
  r.bit();  // gaps_in_frame_num_value_allowed_flag
  const uint64_t width_mbs = uint64_t{r.ue()} + 1;
  const uint64_t height_map_units = uint64_t{r.ue()} + 1;
  const uint32_t frame_mbs_only = r.bit();
  if (frame_mbs_only == 0) {
    r.bit();  // mb_adaptive_frame_field_flag
  }
  r.bit();  // direct_8x8_inference_flag
  uint64_t crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
  if (r.bit() != 0) {  // frame_cropping_flag
    crop_left = r.ue();
    crop_right = r.ue();
    crop_top = r.ue();
    crop_bottom = r.ue();
  }
  if (r.overrun()) {
    return std::nullopt;
  }

  const uint64_t coded_width = width_mbs * 16;
  const uint64_t coded_height = height_map_units * 16 * (2 - frame_mbs_only);
  // Crop units: chroma subsampling steps, doubled vertically for field coding.
  const uint32_t chroma_array_type = separate_colour_planes ? 0 : chroma_format_idc;
  const uint64_t unit_x = (chroma_array_type == 1 || chroma_array_type == 2) ? 2 : 1;
  const uint64_t unit_y = (chroma_array_type == 1 ? 2 : 1) * (2 - frame_mbs_only);
  const uint64_t cut_x = (crop_left + crop_right) * unit_x;
  const uint64_t cut_y = (crop_top + crop_bottom) * unit_y;
  if (coded_width > 16384 || coded_height > 16384 || cut_x >= coded_width ||
      cut_y >= coded_height) {
    return std::nullopt;
  }

  SpsPicture picture;
  picture.coded_width = static_cast<uint32_t>(coded_width);
  picture.coded_height = static_cast<uint32_t>(coded_height);
  picture.visible.left = static_cast<uint32_t>(crop_left * unit_x);
  picture.visible.top = static_cast<uint32_t>(crop_top * unit_y);
  picture.visible.width = static_cast<uint32_t>(coded_width - cut_x);
  picture.visible.height = static_cast<uint32_t>(coded_height - cut_y);
  return picture;
}

std::optional<SpsPicture> find_sps_picture(std::span<const uint8_t> access_unit) {
  constexpr uint8_t kSpsType = 7;
  std::optional<SpsPicture> found;
  const size_t n = access_unit.size();
  size_t i = 0;
  while (i + 3 < n) {
    if (access_unit[i] != 0 || access_unit[i + 1] != 0 || access_unit[i + 2] != 1) {
      ++i;
      continue;
    }
    const size_t start = i + 3;  // the NAL header byte
    size_t end = start + 1;
    while (end + 2 < n &&
           !(access_unit[end] == 0 && access_unit[end + 1] == 0 && access_unit[end + 2] <= 1)) {
      ++end;
    }
    if (end + 2 >= n) {
      end = n;
    }
    if ((access_unit[start] & 0x1F) == kSpsType) {
      if (auto picture = parse_sps(access_unit.subspan(start + 1, end - start - 1))) {
        found = picture;
      }
    }
    i = end;
  }
  return found;
}

}  // namespace korvex::decoder
