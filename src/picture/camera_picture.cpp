#include "picture/camera_picture.hpp"

#include <utility>

#include "picture/i420.hpp"
#include "picture/placeholder.hpp"
#include "picture/yuy2.hpp"

namespace korvex::picture {
namespace {

constexpr uint64_t kReopenAfterMs = 500;
// A writer publishing 30 frames a second rarely catches a reader twice in a row.
constexpr int kCopyAttempts = 4;

bool usable(const PictureBuffer& out) {
  const uint64_t row = out.format == PixelFormat::yuy2 ? uint64_t{out.width} * 2 : out.width;
  return out.data != nullptr && out.width != 0 && out.height != 0 && out.width % 2 == 0 &&
         out.height % 2 == 0 && out.pitch >= row &&
         (out.format != PixelFormat::i420 || out.pitch % 2 == 0);
}

}  // namespace

uint64_t packed_size(PixelFormat format, uint32_t width, uint32_t height) {
  const uint64_t pixels = uint64_t{width} * height;
  return format == PixelFormat::yuy2 ? pixels * 2 : pixels * 3 / 2;
}

CameraPicture::CameraPicture(Opener open, TickSource tick)
    : open_(std::move(open)), tick_(std::move(tick)) {}

CameraPicture CameraPicture::for_system() {
  return CameraPicture(section::open_frame_section_for_camera, section::activity_tick_now);
}

bool CameraPicture::attach(uint64_t now) {
  if (!section_) {
    if (opened_once_ && now - last_open_attempt_ < kReopenAfterMs) {
      return false;
    }
    opened_once_ = true;
    last_open_attempt_ = now;
    Result<section::MappedSection> opened = open_();
    if (!opened) {
      return false;
    }
    section_ = std::move(opened.value());
  }
  if (!geometry_valid_) {
    // All zero until the receiver first maps it; then valid for good.
    Result<section::SectionGeometry> geometry =
        section::validate_header(section::read_header(section_.get()));
    if (!geometry) {
      return false;
    }
    geometry_ = geometry.value();
    geometry_valid_ = true;
    frame_.data.reserve(geometry_.slot_size);
    next_.data.reserve(geometry_.slot_size);
  }
  return true;
}

const section::SlotFrame* CameraPicture::newest_frame(uint64_t now) {
  if (!attach(now)) {
    return nullptr;
  }
  const section::SectionHeader header = section::read_header(section_.get());
  if (header.frame_counter == 0 || header.activity_tick == 0) {
    return nullptr;
  }
  // A tick ahead of ours counts as fresh: both clocks count from the same boot.
  if (now > header.activity_tick && now - header.activity_tick > kPlaceholderAfterMs) {
    return nullptr;
  }
  if (header.frame_counter == last_frame_) {
    return &frame_;  // our copy outlives its slot
  }
  for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
    const section::SlotCopy copied = section::copy_newest(section_.get(), geometry_, next_);
    if (copied == section::SlotCopy::complete) {
      std::swap(frame_, next_);
      last_frame_ = frame_.number;
      return &frame_;
    }
    if (copied != section::SlotCopy::torn) {
      break;
    }
  }
  return last_frame_ != 0 ? &frame_ : nullptr;
}

void CameraPicture::draw(const section::SlotFrame* frame, const Nv12View& target) {
  if (frame == nullptr) {
    draw_placeholder(target);
    return;
  }
  const uint8_t* y = frame->data.data();
  const ConstNv12View source{y, y + uint64_t{frame->width} * frame->height, frame->width,
                             frame->height, frame->width};
  fitter_.fit(source, target);
}

CameraPicture::Shown CameraPicture::render(const PictureBuffer& out) {
  HeldPicture unknown;
  return render(out, unknown);
}

CameraPicture::Shown CameraPicture::render(const PictureBuffer& out, HeldPicture& held) {
  const section::SlotFrame* frame = newest_frame(tick_());
  const Shown shown = frame != nullptr ? Shown::frame : Shown::placeholder;
  if (!usable(out)) {
    return shown;
  }
  const HeldPicture wanted{true, frame != nullptr ? frame->number : 0, out};
  if (held == wanted) {
    return shown;
  }
  held = wanted;
  if (out.format == PixelFormat::nv12) {
    draw(frame, Nv12View{out.data, out.data + uint64_t{out.pitch} * out.height, out.width,
                         out.height, out.pitch});
    return shown;
  }
  canvas_.resize(packed_size(PixelFormat::nv12, out.width, out.height));
  const Nv12View canvas{canvas_.data(), canvas_.data() + uint64_t{out.width} * out.height,
                        out.width, out.height, out.width};
  draw(frame, canvas);
  const ConstNv12View drawn{canvas.y, canvas.uv, canvas.width, canvas.height, canvas.pitch};
  if (out.format == PixelFormat::yuy2) {
    nv12_to_yuy2(drawn, out.data, out.pitch);
  } else {
    nv12_to_i420(drawn, out.data, out.pitch);
  }
  return shown;
}

}  // namespace korvex::picture
