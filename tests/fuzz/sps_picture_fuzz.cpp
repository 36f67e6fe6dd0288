// libFuzzer harness for the SPS reader, which reads the phone's stream before
// any decoder sees it. Besides running clean under AddressSanitizer and
// UndefinedBehaviorSanitizer, every input must satisfy:
//
// - Read as an SPS payload and as an Annex-B access unit, whatever geometry
//   comes out is sound: a coded size in whole macroblocks within the reader's
//   limit, and a visible area that is not empty and lies inside it.
// - Read as the choices of a small SPS writer (profile, chroma format, scaling
//   lists, picture order count type, size, field coding, cropping, trailing
//   bits), the SPS written from them, with emulation-prevention bytes, reads
//   back as exactly the geometry those choices make, or as nothing when they
//   are out of range; and an access unit carrying it between other units
//   gives the same answer.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "decoder/sps_picture.hpp"
#include "fuzz/invariant.hpp"

namespace {

using korvex::decoder::find_sps_picture;
using korvex::decoder::parse_sps;
using korvex::decoder::SpsPicture;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMaxCoded = 16384;

void check_sound(const std::optional<SpsPicture>& p) {
  if (!p) {
    return;
  }
  CHECK(p->coded_width % 16 == 0 && p->coded_height % 16 == 0);
  CHECK(p->coded_width >= 16 && p->coded_width <= kMaxCoded);
  CHECK(p->coded_height >= 16 && p->coded_height <= kMaxCoded);
  CHECK(p->visible.width > 0 && p->visible.height > 0);
  CHECK(uint64_t{p->visible.left} + p->visible.width <= p->coded_width);
  CHECK(uint64_t{p->visible.top} + p->visible.height <= p->coded_height);
}

class BitWriter {
 public:
  void bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      bit((value >> i) & 1u);
    }
  }
  void bit(uint64_t b) {
    if (used_ % 8 == 0) {
      bytes_.push_back(0);
    }
    bytes_.back() |= static_cast<uint8_t>(b << (7 - used_ % 8));
    ++used_;
  }
  void ue(uint32_t value) {
    const uint64_t code = uint64_t{value} + 1;
    int length = 0;
    while ((code >> length) > 1) {
      ++length;
    }
    bits(0, length);
    bits(code, length + 1);
  }
  void se(int32_t value) {
    ue(value > 0 ? 2 * static_cast<uint32_t>(value) - 1 : 2 * static_cast<uint32_t>(-value));
  }
  // rbsp_stop_one_bit and alignment.
  Bytes finish() {
    bit(1);
    return bytes_;
  }

 private:
  Bytes bytes_;
  size_t used_ = 0;
};

// Adds an emulation-prevention byte wherever two zeros are followed by a byte
// of 3 or less, and after two final zeros.
Bytes escape(const Bytes& rbsp) {
  Bytes out;
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  if (zeros >= 2) {
    out.push_back(3);
  }
  return out;
}

// ue(v) values: mostly small, sometimes anywhere in the codable range.
uint32_t pick_ue(FuzzedDataProvider& in, uint32_t usual_max) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, usual_max)
                          : in.ConsumeIntegralInRange<uint32_t>(0, 0xFFFFFFFE);
}

constexpr uint8_t kProfiles[] = {66, 77, 88,  100, 110, 122, 244, 44,
                                 83, 86, 118, 128, 138, 139, 134, 135};

bool has_chroma_format(uint32_t profile) {
  for (size_t i = 3; i < sizeof kProfiles; ++i) {
    if (kProfiles[i] == profile) {
      return true;
    }
  }
  return false;
}

// Writes an SPS from the input's choices; `expected` receives the geometry it
// declares, or nothing when a choice is out of range.
Bytes write_sps(FuzzedDataProvider& in, std::optional<SpsPicture>& expected) {
  BitWriter w;
  bool valid = true;
  const uint32_t profile =
      in.ConsumeBool() ? in.PickValueInArray(kProfiles) : in.ConsumeIntegral<uint8_t>();
  w.bits(profile, 8);
  w.bits(in.ConsumeIntegral<uint16_t>(), 16);  // constraint flags, level
  w.ue(pick_ue(in, 31));                       // seq_parameter_set_id

  uint32_t chroma_format = 1;
  bool separate_planes = false;
  if (has_chroma_format(profile)) {
    chroma_format = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 3 : 6);
    w.ue(chroma_format);
    valid = chroma_format <= 3;
    if (valid) {
      if (chroma_format == 3) {
        separate_planes = in.ConsumeBool();
        w.bit(separate_planes);
      }
      w.ue(pick_ue(in, 6));  // bit depths
      w.ue(pick_ue(in, 6));
      w.bit(in.ConsumeBool());
      const bool matrix = in.ConsumeBool();
      w.bit(matrix);
      const int lists = chroma_format != 3 ? 8 : 12;
      for (int i = 0; matrix && i < lists; ++i) {
        const bool present = in.ConsumeBool();
        w.bit(present);
        // Each list: deltas until its size, or a delta that makes the next
        // scale zero, which ends it early.
        int last = 8;
        for (int j = 0; present && j < (i < 6 ? 16 : 64); ++j) {
          const int next = in.ConsumeIntegralInRange<int>(0, 255);
          int delta = next - last;
          delta = delta > 127 ? delta - 256 : delta < -128 ? delta + 256 : delta;
          w.se(delta);
          if (next == 0) {
            break;
          }
          last = next;
        }
      }
    }
  }
  if (valid) {
    w.ue(pick_ue(in, 12));  // log2_max_frame_num_minus4
    const uint32_t poc_type = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 2 : 5);
    w.ue(poc_type);
    valid = poc_type <= 2;
    if (poc_type == 0) {
      w.ue(pick_ue(in, 12));
    } else if (poc_type == 1) {
      w.bit(in.ConsumeBool());
      w.se(in.ConsumeIntegral<int16_t>());
      w.se(in.ConsumeIntegral<int16_t>());
      const uint32_t cycle = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 255 : 300);
      w.ue(cycle);
      valid = cycle <= 255;
      for (uint32_t i = 0; valid && i < cycle; ++i) {
        w.se(in.ConsumeIntegral<int16_t>());
      }
    }
  }
  if (valid) {
    w.ue(pick_ue(in, 16));  // max_num_ref_frames
    w.bit(in.ConsumeBool());
    const uint32_t width_mbs = pick_ue(in, 1100);
    const uint32_t height_units = pick_ue(in, 1100);
    w.ue(width_mbs);
    w.ue(height_units);
    const uint32_t frame_mbs_only = in.ConsumeBool();
    w.bit(frame_mbs_only);
    if (frame_mbs_only == 0) {
      w.bit(in.ConsumeBool());
    }
    w.bit(in.ConsumeBool());  // direct_8x8_inference_flag
    const bool cropping = in.ConsumeBool();
    w.bit(cropping);
    uint32_t crop[4] = {};
    for (uint32_t& c : crop) {
      if (cropping) {
        c = pick_ue(in, 64);
        w.ue(c);
      }
    }
    // Whatever follows (the VUI) is not read.
    for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 64); n > 0; --n) {
      w.bit(in.ConsumeBool());
    }

    // The geometry those choices declare, by the standard's formulas.
    const uint64_t coded_width = (uint64_t{width_mbs} + 1) * 16;
    const uint64_t coded_height = (uint64_t{height_units} + 1) * 16 * (2 - frame_mbs_only);
    const uint32_t chroma_array_type = separate_planes ? 0 : chroma_format;
    const uint64_t sub_width = chroma_array_type == 1 || chroma_array_type == 2 ? 2 : 1;
    const uint64_t sub_height = chroma_array_type == 1 ? 2 : 1;
    const uint64_t unit_x = sub_width;
    const uint64_t unit_y = sub_height * (2 - frame_mbs_only);
    const uint64_t left = crop[0] * unit_x;
    const uint64_t right = crop[1] * unit_x;
    const uint64_t top = crop[2] * unit_y;
    const uint64_t bottom = crop[3] * unit_y;
    if (coded_width <= kMaxCoded && coded_height <= kMaxCoded && left + right < coded_width &&
        top + bottom < coded_height) {
      SpsPicture p;
      p.coded_width = static_cast<uint32_t>(coded_width);
      p.coded_height = static_cast<uint32_t>(coded_height);
      p.visible = {static_cast<uint32_t>(left), static_cast<uint32_t>(top),
                   static_cast<uint32_t>(coded_width - left - right),
                   static_cast<uint32_t>(coded_height - top - bottom)};
      expected = p;
    }
  }
  return escape(w.finish());
}

void append(Bytes& out, std::initializer_list<uint8_t> bytes) {
  out.insert(out.end(), bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  check_sound(parse_sps(input));
  check_sound(find_sps_picture(input));

  FuzzedDataProvider in(data, size);
  std::optional<SpsPicture> expected;
  const Bytes sps = write_sps(in, expected);
  const std::optional<SpsPicture> read = parse_sps(sps);
  check_sound(read);
  CHECK(read == expected);

  // An access unit as the phone sends it: delimiter, SPS, PPS, a slice; with a
  // three-byte start code and a malformed SPS before it now and then.
  Bytes unit;
  append(unit, {0, 0, 0, 1, 0x09, 0xF0});
  if (in.ConsumeBool()) {
    append(unit, {0, 0, 1, 0x67, 0xFF, 0xFF});  // cut short
  }
  append(unit, {0, 0, 0, 1, 0x67});
  unit.insert(unit.end(), sps.begin(), sps.end());
  append(unit, {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80, 0, 0, 1, 0x65, 0x88, 0x84});
  CHECK(find_sps_picture(unit) == expected);
  return 0;
}
