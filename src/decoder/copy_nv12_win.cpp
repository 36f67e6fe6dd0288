#include "decoder/copy_nv12_win.hpp"

#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "platform/system_text_win.hpp"

using Microsoft::WRL::ComPtr;

namespace korvex::decoder {
namespace {

// Copies the visible rectangle out of an NV12 surface whose first row starts
// at `first_row` and whose rows are `pitch` bytes apart (negative for a
// bottom-up surface, whose later rows lie at lower addresses). The chroma
// plane begins after all `coded_height` luma rows.
void copy_visible(const uint8_t* first_row, ptrdiff_t pitch, uint32_t coded_height,
                  const VisibleArea& visible, uint8_t* out) {
  const uint32_t w = visible.width;
  for (uint32_t r = 0; r < visible.height; ++r, out += w) {
    const uint8_t* src = first_row + static_cast<ptrdiff_t>(visible.top + r) * pitch + visible.left;
    std::memcpy(out, src, w);
  }
  const uint8_t* chroma = first_row + static_cast<ptrdiff_t>(coded_height) * pitch;
  for (uint32_t r = 0; r < visible.height / 2; ++r, out += w) {
    const uint8_t* src =
        chroma + static_cast<ptrdiff_t>(visible.top / 2 + r) * pitch + visible.left;
    std::memcpy(out, src, w);
  }
}

}  // namespace

Result<Nv12Frame> copy_nv12(IMFSample* sample, uint32_t width, uint32_t height, uint32_t stride,
                            uint64_t fallback_pts_us, const VisibleArea& visible) {
  // A rectangle reaching outside the surface (or an odd chroma offset) would
  // read past the buffer; fall back to the whole surface.
  VisibleArea area = visible;
  if (uint64_t{area.left} + area.width > width || uint64_t{area.top} + area.height > height ||
      area.left % 2 != 0 || area.top % 2 != 0 || area.width == 0 || area.height == 0) {
    area = {0, 0, width, height};
  }

  Nv12Frame frame;
  frame.width = area.width;
  frame.height = area.height;
  LONGLONG time = 0;
  frame.timestamp_us = SUCCEEDED(sample->GetSampleTime(&time)) && time >= 0
                           ? static_cast<uint64_t>(time) / 10
                           : fallback_pts_us;

  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = sample->ConvertToContiguousBuffer(&buffer);
  if (FAILED(hr)) {
    return fail("ConvertToContiguousBuffer: " + platform::hresult_text(hr));
  }
  frame.data.resize(uint64_t{area.width} * area.height * 3 / 2);

  ComPtr<IMF2DBuffer> buffer_2d;
  if (SUCCEEDED(buffer.As(&buffer_2d))) {
    BYTE* first_row = nullptr;
    LONG pitch = 0;
    hr = buffer_2d->Lock2D(&first_row, &pitch);
    if (FAILED(hr)) {
      return fail("Lock2D: " + platform::hresult_text(hr));
    }
    const uint64_t p = static_cast<uint64_t>(std::abs(static_cast<int64_t>(pitch)));
    if (width > p) {
      buffer_2d->Unlock2D();
      return fail(fmt::format("output pitch {} smaller than width {}", p, width));
    }
    copy_visible(first_row, pitch, height, area, frame.data.data());
    hr = buffer_2d->Unlock2D();
    if (FAILED(hr)) {
      return fail("Unlock2D: " + platform::hresult_text(hr));
    }
    return frame;
  }

  BYTE* data = nullptr;
  DWORD length = 0;
  hr = buffer->Lock(&data, nullptr, &length);
  if (FAILED(hr)) {
    return fail("Lock: " + platform::hresult_text(hr));
  }
  const uint64_t q = std::max(stride, width);
  const uint64_t need = (uint64_t{height} + height / 2) * q;
  if (need > length) {
    buffer->Unlock();
    return fail(fmt::format("output buffer {} bytes, need {}", length, need));
  }
  copy_visible(data, static_cast<ptrdiff_t>(q), height, area, frame.data.data());
  hr = buffer->Unlock();
  if (FAILED(hr)) {
    return fail("Unlock: " + platform::hresult_text(hr));
  }
  return frame;
}

}  // namespace korvex::decoder
