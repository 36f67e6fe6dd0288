#include <gtest/gtest.h>

#include <windows.h>
// windows.h must come first.
#include <mfapi.h>
#include <wrl/client.h>

#include <atomic>

#include "decoder/copy_nv12_win.hpp"
#include "decoder/media_foundation_win.hpp"
#include "platform/com_adopt_win.hpp"

using Microsoft::WRL::ComPtr;

namespace korvex::decoder {
namespace {

// Which interfaces a fake 2-D buffer offers: IMF2DBuffer alone, as older
// buffers do, or IMF2DBuffer2 too, which tells where the buffer starts and
// how long it is.
enum class Kind { only_2d, with_size };

// A 2-D buffer whose first row and pitch are whatever the test says, so that
// pitches and layouts no real buffer hands out here can be tried.
class Fake2DBuffer final : public IMFMediaBuffer, public IMF2DBuffer2 {
 public:
  Fake2DBuffer(std::vector<uint8_t> memory, size_t first_row, LONG pitch, Kind kind = Kind::only_2d)
      : memory_(std::move(memory)), first_row_(first_row), pitch_(pitch), kind_(kind) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFMediaBuffer)) {
      *out = static_cast<IMFMediaBuffer*>(this);
    } else if (iid == __uuidof(IMF2DBuffer)) {
      *out = static_cast<IMF2DBuffer*>(this);
    } else if (iid == __uuidof(IMF2DBuffer2) && kind_ == Kind::with_size) {
      *out = static_cast<IMF2DBuffer2*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      delete this;
    }
    return left;
  }

  STDMETHODIMP Lock(BYTE** data, DWORD* max, DWORD* current) override {
    *data = memory_.data();
    if (max != nullptr) {
      *max = static_cast<DWORD>(memory_.size());
    }
    if (current != nullptr) {
      *current = static_cast<DWORD>(memory_.size());
    }
    return S_OK;
  }
  STDMETHODIMP Unlock() override { return S_OK; }
  STDMETHODIMP GetCurrentLength(DWORD* length) override {
    *length = static_cast<DWORD>(memory_.size());
    return S_OK;
  }
  STDMETHODIMP SetCurrentLength(DWORD) override { return S_OK; }
  STDMETHODIMP GetMaxLength(DWORD* length) override { return GetCurrentLength(length); }

  STDMETHODIMP Lock2D(BYTE** first_row, LONG* pitch) override {
    *first_row = memory_.data() + first_row_;
    *pitch = pitch_;
    return S_OK;
  }
  STDMETHODIMP Unlock2D() override { return S_OK; }
  STDMETHODIMP GetScanline0AndPitch(BYTE** first_row, LONG* pitch) override {
    return Lock2D(first_row, pitch);
  }
  STDMETHODIMP IsContiguousFormat(BOOL* contiguous) override {
    *contiguous = FALSE;
    return S_OK;
  }
  STDMETHODIMP GetContiguousLength(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP ContiguousCopyTo(BYTE*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP ContiguousCopyFrom(const BYTE*, DWORD) override { return E_NOTIMPL; }

  STDMETHODIMP Lock2DSize(MF2DBuffer_LockFlags, BYTE** first_row, LONG* pitch, BYTE** start,
                          DWORD* length) override {
    *start = memory_.data();
    *length = static_cast<DWORD>(memory_.size());
    return Lock2D(first_row, pitch);
  }
  STDMETHODIMP Copy2DTo(IMF2DBuffer2*) override { return E_NOTIMPL; }

 private:
  std::atomic<ULONG> refs_{1};
  std::vector<uint8_t> memory_;
  size_t first_row_;
  LONG pitch_;
  Kind kind_;
};

ComPtr<IMFMediaBuffer> fake_2d(std::vector<uint8_t> memory, size_t first_row, LONG pitch,
                               Kind kind) {
  return platform::adopt(
      static_cast<IMFMediaBuffer*>(new Fake2DBuffer(std::move(memory), first_row, pitch, kind)));
}

constexpr Kind kKinds[] = {Kind::only_2d, Kind::with_size};

class CopyNv12 : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto started = ensure_media_foundation();
    ASSERT_TRUE(started.ok()) << started.error();
  }
};

// Row r of a surface with `pitch` bytes per row: bytes r * 1000 + x.
std::vector<uint8_t> surface(uint32_t rows, uint32_t pitch) {
  std::vector<uint8_t> memory(size_t{rows} * pitch);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t x = 0; x < pitch; ++x) {
      memory[size_t{r} * pitch + x] = static_cast<uint8_t>(r * 13 + x);
    }
  }
  return memory;
}

// The tightly packed NV12 expected from rows [top, top + height) and the
// chroma rows from `coded_height` on, `width` bytes from column `left`.
std::vector<uint8_t> expected(const std::vector<uint8_t>& memory, uint32_t pitch,
                              uint32_t coded_height, VisibleArea area) {
  std::vector<uint8_t> out;
  auto row = [&](uint32_t r) {
    const auto begin = memory.begin() + static_cast<ptrdiff_t>(size_t{r} * pitch + area.left);
    out.insert(out.end(), begin, begin + area.width);
  };
  for (uint32_t r = 0; r < area.height; ++r) {
    row(area.top + r);
  }
  for (uint32_t r = 0; r < area.height / 2; ++r) {
    row(coded_height + area.top / 2 + r);
  }
  return out;
}

ComPtr<IMFSample> sample_with(IMFMediaBuffer* buffer, std::optional<LONGLONG> time) {
  ComPtr<IMFSample> sample;
  EXPECT_HRESULT_SUCCEEDED(MFCreateSample(&sample));
  EXPECT_HRESULT_SUCCEEDED(sample->AddBuffer(buffer));
  if (time) {
    EXPECT_HRESULT_SUCCEEDED(sample->SetSampleTime(*time));
  }
  return sample;
}

ComPtr<IMFMediaBuffer> contiguous(const std::vector<uint8_t>& bytes) {
  ComPtr<IMFMediaBuffer> buffer;
  EXPECT_HRESULT_SUCCEEDED(MFCreateMemoryBuffer(static_cast<DWORD>(bytes.size()), &buffer));
  BYTE* data = nullptr;
  EXPECT_HRESULT_SUCCEEDED(buffer->Lock(&data, nullptr, nullptr));
  std::copy(bytes.begin(), bytes.end(), data);
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
  return buffer;
}

TEST_F(CopyNv12, ContiguousBufferSkipsTheStridePaddingAndTheHiddenRows) {
  // 64 x 40 coded, 80-byte rows; the picture is the top 64 x 32.
  const std::vector<uint8_t> memory = surface(60, 80);
  auto sample = sample_with(contiguous(memory).Get(), 1'234'567);

  auto whole = copy_nv12(sample.Get(), 64, 40, 80, 0);
  ASSERT_TRUE(whole.ok()) << whole.error();
  EXPECT_EQ(whole->width, 64u);
  EXPECT_EQ(whole->height, 40u);
  EXPECT_EQ(whole->timestamp_us, 123'456u);
  EXPECT_EQ(whole->data, expected(memory, 80, 40, {0, 0, 64, 40}));

  auto visible = copy_nv12(sample.Get(), 64, 40, 80, 0, {0, 0, 64, 32});
  ASSERT_TRUE(visible.ok()) << visible.error();
  EXPECT_EQ(visible->height, 32u);
  EXPECT_EQ(visible->data, expected(memory, 80, 40, {0, 0, 64, 32}));

  auto inner = copy_nv12(sample.Get(), 64, 40, 80, 0, {8, 4, 48, 30});
  ASSERT_TRUE(inner.ok()) << inner.error();
  EXPECT_EQ(inner->data, expected(memory, 80, 40, {8, 4, 48, 30}));

  // A rectangle outside the surface is not trusted: the whole surface comes out.
  auto outside = copy_nv12(sample.Get(), 64, 40, 80, 0, {32, 0, 64, 40});
  ASSERT_TRUE(outside.ok()) << outside.error();
  EXPECT_EQ(outside->data, whole->data);
}

TEST_F(CopyNv12, CopyIntoAnOlderFrameReplacesAllOfIt) {
  const std::vector<uint8_t> memory = surface(60, 80);
  auto sample = sample_with(contiguous(memory).Get(), 1'234'567);
  Nv12Frame frame{std::vector<uint8_t>(64 * 40 * 3 / 2 + 100, 0xAB), 7, 1, 1};
  ASSERT_TRUE(copy_nv12_into(sample.Get(), 64, 40, 80, 0, {8, 4, 48, 30}, frame).ok());
  EXPECT_EQ(frame.width, 48u);
  EXPECT_EQ(frame.height, 30u);
  EXPECT_EQ(frame.timestamp_us, 123'456u);
  EXPECT_EQ(frame.data, expected(memory, 80, 40, {8, 4, 48, 30}));
}

TEST_F(CopyNv12, ContiguousBufferTooShortIsRefused) {
  // A stride below the width counts as the width: need = 60 rows x 64.
  auto sample = sample_with(contiguous(std::vector<uint8_t>(60 * 64 - 1)).Get(), 0);
  auto frame = copy_nv12(sample.Get(), 64, 40, 16, 0);
  ASSERT_FALSE(frame.ok());
  EXPECT_EQ(frame.error(), "output buffer 3839 bytes, need 3840");
}

TEST_F(CopyNv12, TwoDimensionalBufferUsesItsPitchAndRefusesOneBelowTheWidth) {
  const std::vector<uint8_t> memory = surface(48, 96);
  for (const Kind kind : kKinds) {
    // The stride argument is for contiguous buffers only.
    auto frame = copy_nv12(sample_with(fake_2d(memory, 0, 96, kind).Get(), 0).Get(), 64, 32, 64, 0,
                           {0, 0, 64, 30});
    ASSERT_TRUE(frame.ok()) << frame.error();
    EXPECT_EQ(frame->data, expected(memory, 96, 32, {0, 0, 64, 30}));

    for (const LONG pitch : {32L, -32L}) {
      auto refused =
          copy_nv12(sample_with(fake_2d(memory, 0, pitch, kind).Get(), 0).Get(), 64, 32, 64, 0);
      ASSERT_FALSE(refused.ok());
      EXPECT_EQ(refused.error(), "output pitch 32 smaller than width 64");
    }
  }
}

TEST_F(CopyNv12, BottomUpBufferIsReadBackwardsFromItsFirstRow) {
  // Rows stored last to first: picture row r sits at memory row 47 - r.
  const std::vector<uint8_t> stored = surface(48, 64);
  std::vector<uint8_t> flipped;
  for (int r = 47; r >= 0; --r) {
    flipped.insert(flipped.end(), stored.begin() + r * 64, stored.begin() + (r + 1) * 64);
  }
  for (const Kind kind : kKinds) {
    auto frame =
        copy_nv12(sample_with(fake_2d(stored, 47 * 64, -64, kind).Get(), 0).Get(), 64, 32, 64, 0);
    ASSERT_TRUE(frame.ok()) << frame.error();
    EXPECT_EQ(frame->data, flipped);
  }
}

TEST_F(CopyNv12, TwoDimensionalBufferShorterThanItsRowsIsRefusedBeforeAnyCopy) {
  // 64 x 32 coded needs 48 rows: 32 of luma, 16 of chroma.
  for (const Kind kind : kKinds) {
    auto short_one =
        copy_nv12(sample_with(fake_2d(surface(47, 96), 0, 96, kind).Get(), 0).Get(), 64, 32, 64, 0);
    ASSERT_FALSE(short_one.ok());
    EXPECT_EQ(short_one.error(), "output buffer 4512 bytes does not hold 48 rows of pitch 96");
  }

  // Long enough, but the rows start one row in (top-down) or one row short of
  // the end (bottom-up): only a buffer that tells its start can show it.
  const std::vector<uint8_t> memory = surface(48, 96);
  auto shifted = copy_nv12(sample_with(fake_2d(memory, 96, 96, Kind::with_size).Get(), 0).Get(), 64,
                           32, 64, 0);
  ASSERT_FALSE(shifted.ok());
  EXPECT_EQ(shifted.error(), "output buffer 4608 bytes does not hold 48 rows of pitch 96");
  auto bottom_up = copy_nv12(
      sample_with(fake_2d(memory, 46 * 96, -96, Kind::with_size).Get(), 0).Get(), 64, 32, 64, 0);
  ASSERT_FALSE(bottom_up.ok());
  EXPECT_EQ(bottom_up.error(), "output buffer 4608 bytes does not hold 48 rows of pitch -96");
}

TEST_F(CopyNv12, SampleWithoutATimeOrANegativeOneGetsTheFallback) {
  const std::vector<uint8_t> memory = surface(24, 16);
  auto untimed =
      copy_nv12(sample_with(contiguous(memory).Get(), std::nullopt).Get(), 16, 16, 16, 777);
  ASSERT_TRUE(untimed.ok()) << untimed.error();
  EXPECT_EQ(untimed->timestamp_us, 777u);
  auto negative = copy_nv12(sample_with(contiguous(memory).Get(), -10).Get(), 16, 16, 16, 888);
  ASSERT_TRUE(negative.ok()) << negative.error();
  EXPECT_EQ(negative->timestamp_us, 888u);
}

}  // namespace
}  // namespace korvex::decoder
