#include "decoder/copy_nv12_win.hpp"

#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "platform/hresult_win.hpp"

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

// A locked 2-D buffer: its first row and the distance from one row to the next.
struct Locked2D {
  BYTE* first_row = nullptr;
  LONG pitch = 0;
};

// Whether `rows` rows of `row_bytes`, `pitch` apart from `first_row` (down
// in memory for a negative pitch), all lie within [start, start + length).
bool rows_inside(const BYTE* start, uint64_t length, const BYTE* first_row, LONG pitch,
                 uint64_t rows, uint64_t row_bytes) {
  if (rows == 0) {
    return true;
  }
  const auto base = reinterpret_cast<uintptr_t>(start);
  const auto first = reinterpret_cast<uintptr_t>(first_row);
  const uint64_t span = static_cast<uint64_t>(std::abs(static_cast<int64_t>(pitch))) * (rows - 1);
  const uintptr_t lowest = pitch >= 0 ? first : first - span;
  const uintptr_t highest = pitch >= 0 ? first + span : first;
  return (pitch >= 0 || first >= span) && lowest >= base && highest - base + row_bytes <= length;
}

// Locks a 2-D buffer for reading and checks that `rows` rows of `row_bytes`
// fit in it before anything is copied: where the buffer tells its start and
// length (IMF2DBuffer2), row by row against them; otherwise pitch times rows
// against its length. On success the caller unlocks it.
Result<Locked2D> lock_2d(IMFMediaBuffer* buffer, IMF2DBuffer* buffer_2d, uint64_t rows,
                         uint64_t row_bytes) {
  Locked2D locked;
  ComPtr<IMF2DBuffer2> buffer_2d2;
  bool fits = false;
  uint64_t length = 0;
  if (SUCCEEDED(buffer_2d->QueryInterface(IID_PPV_ARGS(&buffer_2d2)))) {
    BYTE* start = nullptr;
    DWORD buffer_length = 0;
    KORVEX_FAIL_IF_FAILED("Lock2DSize",
                          buffer_2d2->Lock2DSize(MF2DBuffer_LockFlags_Read, &locked.first_row,
                                                 &locked.pitch, &start, &buffer_length));
    length = buffer_length;
    fits = rows_inside(start, length, locked.first_row, locked.pitch, rows, row_bytes);
  } else {
    KORVEX_FAIL_IF_FAILED("Lock2D", buffer_2d->Lock2D(&locked.first_row, &locked.pitch));
    DWORD max_length = 0;
    length = SUCCEEDED(buffer->GetMaxLength(&max_length)) ? max_length : 0;
    fits = static_cast<uint64_t>(std::abs(static_cast<int64_t>(locked.pitch))) * rows <= length;
  }
  const uint64_t p = static_cast<uint64_t>(std::abs(static_cast<int64_t>(locked.pitch)));
  if (row_bytes > p) {
    buffer_2d->Unlock2D();
    return fail(fmt::format("output pitch {} smaller than width {}", p, row_bytes));
  }
  if (!fits) {
    buffer_2d->Unlock2D();
    return fail(fmt::format("output buffer {} bytes does not hold {} rows of pitch {}", length,
                            rows, locked.pitch));
  }
  return locked;
}

}  // namespace

Result<void> copy_nv12_into(IMFSample* sample, uint32_t width, uint32_t height, uint32_t stride,
                            uint64_t fallback_pts_us, const VisibleArea& visible,
                            Nv12Frame& frame) {
  // A rectangle reaching outside the surface (or an odd chroma offset) would
  // read past the buffer; fall back to the whole surface.
  VisibleArea area = visible;
  if (uint64_t{area.left} + area.width > width || uint64_t{area.top} + area.height > height ||
      area.left % 2 != 0 || area.top % 2 != 0 || area.width == 0 || area.height == 0) {
    area = {0, 0, width, height};
  }

  frame.width = area.width;
  frame.height = area.height;
  LONGLONG time = 0;
  frame.timestamp_us = SUCCEEDED(sample->GetSampleTime(&time)) && time >= 0
                           ? static_cast<uint64_t>(time) / 10
                           : fallback_pts_us;

  ComPtr<IMFMediaBuffer> buffer;
  KORVEX_FAIL_IF_FAILED("ConvertToContiguousBuffer", sample->ConvertToContiguousBuffer(&buffer));
  frame.data.resize(uint64_t{area.width} * area.height * 3 / 2);

  ComPtr<IMF2DBuffer> buffer_2d;
  if (SUCCEEDED(buffer.As(&buffer_2d))) {
    auto locked = lock_2d(buffer.Get(), buffer_2d.Get(), uint64_t{height} + height / 2, width);
    if (!locked) {
      return fail(locked.error());
    }
    copy_visible(locked->first_row, locked->pitch, height, area, frame.data.data());
    KORVEX_FAIL_IF_FAILED("Unlock2D", buffer_2d->Unlock2D());
    return {};
  }

  BYTE* data = nullptr;
  DWORD length = 0;
  KORVEX_FAIL_IF_FAILED("Lock", buffer->Lock(&data, nullptr, &length));
  const uint64_t q = std::max(stride, width);
  const uint64_t need = (uint64_t{height} + height / 2) * q;
  if (need > length) {
    buffer->Unlock();
    return fail(fmt::format("output buffer {} bytes, need {}", length, need));
  }
  copy_visible(data, static_cast<ptrdiff_t>(q), height, area, frame.data.data());
  KORVEX_FAIL_IF_FAILED("Unlock", buffer->Unlock());
  return {};
}

}  // namespace korvex::decoder
