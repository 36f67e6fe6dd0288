#pragma once

// The camera's picture: the newest frame of the frame section, fitted into
// the size a camera application asked for, or a placeholder while no phone is
// streaming. Shared by the Windows media source and the Linux camera, so both
// cameras show the same picture.

#include <cstdint>
#include <functional>
#include <vector>

#include "common/result.hpp"
#include "picture/fit.hpp"
#include "section/frame_section.hpp"
#include "section/section_mapping.hpp"

namespace korvex::picture {

enum class PixelFormat {
  nv12,  // luma rows, then interleaved Cb/Cr rows at data + pitch * height
  yuy2,  // packed Y0 Cb Y1 Cr, two bytes a pixel
  i420,  // luma rows, then the Cb plane and the Cr plane at half the pitch
};

// Caller memory for one picture; `pitch` bytes from one row to the next (for
// NV12 in both planes; for I420 in the luma plane, half of it in the chroma
// planes). Width and height are even.
struct PictureBuffer {
  PixelFormat format = PixelFormat::nv12;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t* data = nullptr;
  uint32_t pitch = 0;
};

// What one caller buffer holds: which picture, drawn at which size. Kept per
// buffer by callers that cycle buffers, so that a buffer already holding the
// picture to show is not drawn again. Nothing is known of a new buffer.
struct HeldPicture {
  bool known = false;
  uint64_t frame = 0;  // the frame's number; 0 for the placeholder
  PictureBuffer buffer;

  bool operator==(const HeldPicture& other) const {
    return known == other.known && frame == other.frame && buffer.format == other.buffer.format &&
           buffer.width == other.buffer.width && buffer.height == other.buffer.height &&
           buffer.data == other.buffer.data && buffer.pitch == other.buffer.pitch;
  }
};

// Bytes a tightly packed picture of this format and size takes.
uint64_t packed_size(PixelFormat format, uint32_t width, uint32_t height);

// Frames older than this (by the section's activity_tick) give way to the
// placeholder.
inline constexpr uint64_t kPlaceholderAfterMs = 2000;

class CameraPicture {
 public:
  using Opener = std::function<Result<section::MappedSection>()>;
  using TickSource = std::function<uint64_t()>;

  // `open` maps the section read-only (tried again every 500 ms while it
  // fails; a header not valid yet is checked again on every render); `tick`
  // is the section's clock.
  CameraPicture(Opener open, TickSource tick);

  // The system's section, opened as the camera opens it, and its clock.
  static CameraPicture for_system();

  enum class Shown { frame, placeholder };

  // Writes the current picture into `out`: the newest frame, copied when its
  // size matches and otherwise scaled to fit with black bars; the placeholder
  // when there is no usable section, no frame yet, or the newest activity is
  // older than kPlaceholderAfterMs. A newest frame that cannot be copied
  // whole (the writer kept rewriting it, or its slot is damaged) leaves the
  // previous frame on show. `out` must have an even, non-zero size and a
  // pitch that holds a row.
  Shown render(const PictureBuffer& out);
  // The same, but leaves `out` as it is when `held` says it already holds the
  // picture to show, and records in `held` what it holds afterwards.
  Shown render(const PictureBuffer& out, HeldPicture& held);

  // The number of the frame the last render showed; 0 before any.
  uint64_t last_frame_number() const { return last_frame_; }

 private:
  // Maps the section and validates its header once; the geometry then stays.
  bool attach(uint64_t now);
  // The frame to show, or null for the placeholder.
  const section::SlotFrame* newest_frame(uint64_t now);
  void draw(const section::SlotFrame* frame, const Nv12View& target);

  Opener open_;
  TickSource tick_;
  section::MappedSection section_;
  section::SectionGeometry geometry_;
  bool geometry_valid_ = false;
  bool opened_once_ = false;
  uint64_t last_open_attempt_ = 0;
  // The frame on show and the next one's copy; reused, so copies do not allocate.
  section::SlotFrame frame_;
  section::SlotFrame next_;
  uint64_t last_frame_ = 0;
  Fitter fitter_;
  std::vector<uint8_t> canvas_;  // NV12 at the output size, for YUY2 and I420 output
};

}  // namespace korvex::picture
