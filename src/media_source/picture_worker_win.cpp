#include "media_source/picture_worker_win.hpp"

#include <mferror.h>

#include <chrono>
#include <utility>

#include "media_source/com_guard_win.hpp"
#include "media_source/picture_sample_win.hpp"
#include "platform/hresult_win.hpp"
#include "platform/thread.hpp"
#include "section/section_mapping.hpp"

namespace korvex::media_source {
namespace {

using Microsoft::WRL::ComPtr;

picture::CameraPicture picture_from(std::shared_ptr<section::SectionHold> section) {
  return picture::CameraPicture(
      [section = std::move(section)]() -> Result<section::MappedSection> {
        if (!section) {
          return fail("the stream holds no frame section");
        }
        return section->view();
      },
      section::activity_tick_now);
}

}  // namespace

PictureWorker::PictureWorker(StreamFormat format, ComPtr<IMFVideoSampleAllocator> allocator,
                             ComPtr<IMFMediaEventQueue> events,
                             std::shared_ptr<section::SectionHold> section)
    : format_(format),
      max_waiting_((format.rate.numerator + format.rate.denominator - 1) / format.rate.denominator),
      allocator_(std::move(allocator)),
      events_(std::move(events)),
      pacer_(picture::frame_period(format.rate)),
      picture_(picture_from(std::move(section))) {}

PictureWorker::~PictureWorker() {
  stop();
}

HRESULT PictureWorker::start() {
  try {
    // An exception from the loop ends the pictures, never the process.
    thread_ = std::thread([this] {
      guarded([this] {
        run();
        return S_OK;
      });
    });
  } catch (...) {
    return E_OUTOFMEMORY;  // no thread could be made
  }
  return S_OK;
}

HRESULT PictureWorker::request(ComPtr<IUnknown> token) {
  {
    std::lock_guard guard(lock_);
    if (requests_.size() >= max_waiting_) {
      return MF_E_NOTACCEPTING;
    }
    requests_.push_back(std::move(token));
  }
  wake_.notify_one();
  return S_OK;
}

void PictureWorker::stop() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) {
    thread_.join();
  }
  std::lock_guard guard(lock_);
  requests_.clear();
}

void PictureWorker::run() {
  platform::set_current_thread_name("camera pictures");
  std::unique_lock lock(lock_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
    if (stopping_) {
      return;
    }
    const auto due = pacer_.take_slot(picture::FramePacer::Clock::now());
    if (wake_.wait_until(lock, due, [this] { return stopping_; })) {
      return;
    }
    ComPtr<IUnknown> token = std::move(requests_.front());
    requests_.pop_front();
    lock.unlock();
    answer(token.Get());
    token.Reset();
    lock.lock();
  }
}

void PictureWorker::answer(IUnknown* token) {
  ComPtr<IMFSample> sample;
  const HRESULT hr = guarded(
      [&] { return make_picture_sample(format_, allocator_.Get(), token, picture_, sample); });
  if (SUCCEEDED(hr)) {
    events_->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
  } else {
    // The pipeline learns of the failure; later requests are still answered.
    events_->QueueEventParamVar(MEError, GUID_NULL, platform::traced_failure("picture", hr),
                                nullptr);
  }
}

}  // namespace korvex::media_source
