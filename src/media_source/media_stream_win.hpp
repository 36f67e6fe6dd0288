#pragma once

// The camera's one video stream. The source creates it, selects it at Start
// and drives it; camera applications request samples from it and read its
// events (MEStreamStarted, MEMediaSample, MEStreamStopped, MEError).

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <memory>

#include "media_source/frame_server_declarations_win.hpp"
#include "media_source/picture_worker_win.hpp"
#include "media_source/ref_count_win.hpp"
#include "media_source/slim_lock_win.hpp"
#include "media_source/stream_formats_win.hpp"
#include "section/section_hold.hpp"

namespace korvex::media_source {

class MediaSource;

class MediaStream final : public IMFMediaStream2 {
 public:
  // A stopped stream of `source`, which it names until the source goes. Its
  // pictures come through `section`, which it holds until it shuts down.
  static HRESULT create(MediaSource* source, std::shared_ptr<section::SectionHold> section,
                        Microsoft::WRL::ComPtr<MediaStream>& out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.add(); }
  STDMETHODIMP_(ULONG) Release() override;

  // IMFMediaEventGenerator
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended_type, HRESULT status,
                          const PROPVARIANT* value) override;

  // IMFMediaStream
  STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
  STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
  STDMETHODIMP RequestSample(IUnknown* token) override;

  // IMFMediaStream2: the frame server runs and stops the stream directly too.
  STDMETHODIMP SetStreamState(MF_STREAM_STATE state) override;
  STDMETHODIMP GetStreamState(MF_STREAM_STATE* state) override;

  // ---- For the source, called under its lock ----

  IMFStreamDescriptor* descriptor() const { return descriptor_.Get(); }
  IMFAttributes* attributes() const { return attributes_.Get(); }

  // Runs the stream with `format`, keeping the worker (and the requests
  // waiting) when it already has that format, paused or not. Queues no event.
  HRESULT run(const StreamFormat& format);
  HRESULT queue_started(const PROPVARIANT& start_time);
  // Stops the stream, queueing MEStreamStopped when it was running or paused.
  void stop();
  // Stops the stream without a word: it is no longer selected.
  void deselect();
  void shut_down();

  // The pipeline's sample allocator, used from the next run on.
  void set_allocator(Microsoft::WRL::ComPtr<IMFVideoSampleAllocator> allocator);

  // The source is going: GetMediaSource answers MF_E_SHUTDOWN from now on.
  void forget_source();

 private:
  MediaStream() = default;
  ~MediaStream();
  HRESULT initialize();

  // Answers a call: MF_E_SHUTDOWN once shut down, otherwise what `body`
  // returns, run under the lock.
  template <class Body>
  HRESULT serve(Body&& body);

  HRESULT run_locked(const StreamFormat& format);
  void stop_locked();

  RefCount refs_;
  // Set by create, then constant.
  Microsoft::WRL::ComPtr<IMFMediaEventQueue> events_;
  Microsoft::WRL::ComPtr<IMFStreamDescriptor> descriptor_;
  Microsoft::WRL::ComPtr<IMFAttributes> attributes_;

  SlimLock lock_;                  // guards everything below
  MediaSource* source_ = nullptr;  // no reference: the source owns us (see GetMediaSource)
  // Paused, the stream keeps its worker and refuses new requests.
  MF_STREAM_STATE state_ = MF_STREAM_STATE_STOPPED;
  bool shut_down_ = false;
  std::shared_ptr<section::SectionHold> section_;  // until shut down
  Microsoft::WRL::ComPtr<IMFVideoSampleAllocator> allocator_;
  std::unique_ptr<PictureWorker> worker_;  // while running
};

}  // namespace korvex::media_source
