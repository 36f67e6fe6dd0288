#pragma once

// The stream's worker thread. It answers sample requests in order, one
// picture each, no faster than the frame rate, and queues every sample as
// MEMediaSample on the stream's event queue, so that no frame server thread
// waits on the clock or on rendering.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "media_source/stream_formats_win.hpp"
#include "picture/camera_picture.hpp"
#include "picture/frame_pacer.hpp"
#include "section/section_hold.hpp"

namespace korvex::media_source {

class PictureWorker {
 public:
  // `allocator` may be null: then every sample has a buffer of our own. The
  // pictures come from `section`'s views.
  PictureWorker(StreamFormat format, Microsoft::WRL::ComPtr<IMFVideoSampleAllocator> allocator,
                Microsoft::WRL::ComPtr<IMFMediaEventQueue> events,
                std::shared_ptr<section::SectionHold> section);
  ~PictureWorker();  // stops
  PictureWorker(const PictureWorker&) = delete;
  PictureWorker& operator=(const PictureWorker&) = delete;

  HRESULT start();

  // Queues a request (its token may be null). Refused with MF_E_NOTACCEPTING
  // once a second's worth of requests waits, so a runaway caller cannot grow
  // the queue without bound.
  HRESULT request(Microsoft::WRL::ComPtr<IUnknown> token);

  // Wakes the thread and waits for it: at most the picture being rendered.
  // Requests still waiting are dropped. Never called from the thread itself.
  void stop();

  const StreamFormat& format() const { return format_; }

 private:
  void run();
  void answer(IUnknown* token);

  const StreamFormat format_;
  const size_t max_waiting_;  // a second's worth
  const Microsoft::WRL::ComPtr<IMFVideoSampleAllocator> allocator_;
  const Microsoft::WRL::ComPtr<IMFMediaEventQueue> events_;

  std::mutex lock_;  // guards requests_ and stopping_
  std::condition_variable wake_;
  std::deque<Microsoft::WRL::ComPtr<IUnknown>> requests_;
  bool stopping_ = false;

  picture::FramePacer pacer_;       // used by the thread only
  picture::CameraPicture picture_;  // used by the thread only
  std::thread thread_;              // started and joined by the owner
};

}  // namespace korvex::media_source
