#include "capture_filter/picture_stream_win.hpp"

#include <objbase.h>
// objbase.h must come first.
#include <evcode.h>
#include <vfwmsgs.h>

#include <chrono>
#include <optional>
#include <utility>

#include "media_source/com_guard_win.hpp"
#include "picture/frame_pacer.hpp"
#include "platform/debug_trace_win.hpp"
#include "platform/hresult_win.hpp"
#include "platform/thread.hpp"
#include "platform/wait_timer_win.hpp"

namespace korvex::capture_filter {
namespace {

using Microsoft::WRL::ComPtr;
using Clock = picture::FramePacer::Clock;

uint32_t row_bytes(const CaptureFormat& format) {
  return format.pixels == picture::PixelFormat::yuy2 ? format.width * 2 : format.width;
}

}  // namespace

HRESULT PictureStream::start(StreamSetup setup, std::unique_ptr<PictureStream>& out) {
  platform::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  std::unique_ptr<PictureStream> stream(new (std::nothrow)
                                            PictureStream(std::move(setup), std::move(stop)));
  if (!stream) {
    return E_OUTOFMEMORY;
  }
  try {
    // An exception from the loop ends the pictures, never the program.
    PictureStream* self = stream.get();
    stream->thread_ = std::thread([self] {
      media_source::guarded([self] {
        self->run();
        return S_OK;
      });
    });
  } catch (...) {
    return E_OUTOFMEMORY;  // no thread could be made
  }
  out = std::move(stream);
  return S_OK;
}

PictureStream::PictureStream(StreamSetup setup, platform::UniqueHandle stop)
    : setup_(std::move(setup)), stop_(std::move(stop)), start_(setup_.start) {}

PictureStream::~PictureStream() {
  SetEvent(stop_.get());
  {
    std::lock_guard guard(lock_);
    paused_ = false;
  }
  resumed_.notify_one();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void PictureStream::pause() {
  std::lock_guard guard(lock_);
  paused_ = true;
}

void PictureStream::resume(REFERENCE_TIME start) {
  {
    std::lock_guard guard(lock_);
    paused_ = false;
    start_ = start;
  }
  resumed_.notify_one();
}

void PictureStream::run() {
  platform::set_current_thread_name("camera pictures");
  (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  Result<platform::WaitTimer> timer = platform::WaitTimer::create();
  if (!timer) {
    platform::trace(timer.error());
    return;
  }
  const auto period = std::chrono::nanoseconds(setup_.choice.interval * 100);
  // Each run (the first, and each after a pause) starts its own slot grid.
  std::optional<picture::FramePacer> pacer;
  std::optional<Clock::time_point> previous_slot;
  bool first = true;
  for (;;) {
    {
      std::unique_lock lock(lock_);
      if (paused_) {
        resumed_.wait(lock, [this] { return !paused_; });
        pacer.reset();
      }
    }
    if (!pacer) {
      pacer.emplace(std::chrono::duration_cast<Clock::duration>(period));
      previous_slot.reset();
      first = true;
    }
    const Clock::time_point slot = pacer->take_slot(Clock::now());
    if (previous_slot && slot - *previous_slot > period) {
      setup_.counts->dropped += static_cast<long>((slot - *previous_slot) / period - 1);
    }
    previous_slot = slot;
    if (timer.value().wait_until(slot, stop_.get())) {
      return;
    }
    REFERENCE_TIME start = 0;
    {
      std::lock_guard guard(lock_);
      if (paused_) {
        continue;
      }
      start = start_;
    }
    REFERENCE_TIME now = 0;
    const bool stamped = setup_.clock && SUCCEEDED(setup_.clock->GetTime(&now));
    now -= start;
    const HRESULT hr = deliver(stamped ? &now : nullptr, first);
    first = false;
    if (hr == VFW_E_NOT_COMMITTED || hr == VFW_E_WRONG_STATE) {
      return;  // stopping
    }
    if (hr != S_OK) {
      if (FAILED(hr)) {
        platform::traced_failure("delivering a picture", hr);
        if (setup_.events) {
          setup_.events->Notify(EC_ERRORABORT, hr, 0);
        }
      }
      idle();  // S_FALSE: downstream takes no more until it is stopped
      return;
    }
  }
}

HRESULT PictureStream::deliver(const REFERENCE_TIME* now, bool first) {
  ComPtr<IMediaSample> sample;
  HRESULT hr = setup_.allocator->GetBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) {
    return hr;
  }
  const CaptureFormat& format = setup_.choice.format;
  const long size = static_cast<long>(image_size(format));
  BYTE* data = nullptr;
  if (FAILED(hr = sample->GetPointer(&data)) || sample->GetSize() < size) {
    return FAILED(hr) ? hr : VFW_E_BUFFER_OVERFLOW;
  }
  setup_.picture->render(
      picture::PictureBuffer{format.pixels, format.width, format.height, data, row_bytes(format)});
  sample->SetActualDataLength(size);
  if (now != nullptr) {
    REFERENCE_TIME start = *now;
    REFERENCE_TIME end = start + setup_.choice.interval;
    sample->SetTime(&start, &end);
  } else {
    sample->SetTime(nullptr, nullptr);
  }
  LONGLONG number = frame_number_++;
  LONGLONG next = frame_number_;
  sample->SetMediaTime(&number, &next);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(first ? TRUE : FALSE);
  hr = setup_.input->Receive(sample.Get());
  if (hr == S_OK) {
    ++setup_.counts->delivered;
  }
  return hr;
}

void PictureStream::idle() {
  WaitForSingleObject(stop_.get(), INFINITE);
}

}  // namespace korvex::capture_filter
