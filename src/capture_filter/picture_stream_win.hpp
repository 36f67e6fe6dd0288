#pragma once

// The pin's streaming thread, from Run until Stop: on each frame slot it
// renders the camera's picture into a sample of the downstream allocator,
// stamps it with the graph clock's stream time and delivers it. Paused, it
// keeps its thread and delivers nothing; stopped, there is no thread.

#include <windows.h>
// windows.h must come first.
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "capture_filter/capture_formats.hpp"
#include "picture/camera_picture.hpp"
#include "platform/unique_handle_win.hpp"

namespace korvex::capture_filter {

// Read by IAMDroppedFrames from any thread.
struct FrameCounts {
  std::atomic<long> delivered{0};
  std::atomic<long> dropped{0};  // frame slots that passed while a picture was late
};

struct StreamSetup {
  StreamChoice choice;
  Microsoft::WRL::ComPtr<IMemAllocator> allocator;  // committed
  Microsoft::WRL::ComPtr<IMemInputPin> input;
  Microsoft::WRL::ComPtr<IReferenceClock> clock;   // null: samples go out unstamped
  Microsoft::WRL::ComPtr<IMediaEventSink> events;  // where a delivery failure is told
  REFERENCE_TIME start = 0;                        // Run's stream time origin
  picture::CameraPicture* picture = nullptr;       // the thread's alone while it runs
  FrameCounts* counts = nullptr;
};

class PictureStream {
 public:
  static HRESULT start(StreamSetup setup, std::unique_ptr<PictureStream>& out);
  // Stops and joins the thread. The allocator must be decommitted first, so
  // that a thread waiting for a buffer wakes.
  ~PictureStream();
  PictureStream(const PictureStream&) = delete;
  PictureStream& operator=(const PictureStream&) = delete;

  void pause();
  // Running again with the new stream time origin.
  void resume(REFERENCE_TIME start);

 private:
  PictureStream(StreamSetup setup, platform::UniqueHandle stop);
  void run();
  // Renders and delivers one picture captured at stream time `now`.
  HRESULT deliver(const REFERENCE_TIME* now, bool first);
  // Waits until stopped, when downstream wants no more samples.
  void idle();

  const StreamSetup setup_;
  const platform::UniqueHandle stop_;  // event: set once, by the destructor

  std::mutex lock_;  // guards paused_ and start_
  std::condition_variable resumed_;
  bool paused_ = false;
  REFERENCE_TIME start_ = 0;

  int64_t frame_number_ = 0;  // used by the thread only
  std::thread thread_;
};

}  // namespace korvex::capture_filter
