// Driving the source directly, as the frame server does: start, samples on
// request, stop, restart, the stream's own state, the pipeline's allocator,
// shutdown.

#include <gtest/gtest.h>
#include <mfapi.h>
#include <mferror.h>

#include <vector>

#include "media_source/frame_server_declarations_win.hpp"
#include "sample_picture.hpp"
#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

const DWORD kNv12Small = media_type(picture::PixelFormat::nv12, 640, 360);
const DWORD kYuy2Small = media_type(picture::PixelFormat::yuy2, 640, 360);
constexpr LONGLONG kFramePeriod = 333333;  // 30 fps in 100-ns units

ComPtr<IUnknown> identity(IUnknown* object) {
  ComPtr<IUnknown> unknown;
  if (object != nullptr) {
    object->QueryInterface(IID_PPV_ARGS(&unknown));
  }
  return unknown;
}

ComPtr<IUnknown> make_token() {
  ComPtr<IMFAttributes> token;
  MFCreateAttributes(&token, 0);
  return identity(token.Get());
}

ComPtr<IUnknown> token_of(IMFSample* sample) {
  ComPtr<IUnknown> token;
  if (sample != nullptr) {
    sample->GetUnknown(MFSampleExtension_Token, IID_PPV_ARGS(&token));
  }
  return token;
}

TEST(SourceControl, StartsDeliversStopsRestartsAndShutsDown) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  IMFMediaSource* source = session->source.Get();

  ComPtr<IMFPresentationDescriptor> presentation = presentation_with(source, kNv12Small);
  ASSERT_TRUE(presentation);
  PROPVARIANT from_now{};
  ASSERT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), S_OK);
  const ComPtr<IMFMediaEvent> announced = next_event(source);
  ASSERT_EQ(type_of(announced.Get()), MENewStream);
  const ComPtr<IMFMediaStream> stream = event_object<IMFMediaStream>(announced.Get());
  ASSERT_TRUE(stream);
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEStreamStarted);
  EXPECT_EQ(type_of(next_event(source).Get()), MESourceStarted);

  session->stream = stream;
  const ComPtr<IUnknown> token = make_token();
  ComPtr<IMFSample> sample = session->read(token.Get());
  ASSERT_TRUE(sample);
  EXPECT_TRUE(picture_of(sample.Get(), picture::PixelFormat::nv12, 640, 360));
  EXPECT_EQ(token_of(sample.Get()), token);
  LONGLONG duration = 0;
  LONGLONG time = 0;
  EXPECT_EQ(sample->GetSampleDuration(&duration), S_OK);
  EXPECT_EQ(duration, kFramePeriod);
  EXPECT_EQ(sample->GetSampleTime(&time), S_OK);
  sample = session->read(nullptr);
  ASSERT_TRUE(sample);
  EXPECT_FALSE(token_of(sample.Get())) << "no token asked, none set";

  ASSERT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEStreamStopped);
  EXPECT_EQ(type_of(next_event(source).Get()), MESourceStopped);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);

  // Started again, now in YUY2: the same stream, announced as updated.
  presentation = presentation_with(source, kYuy2Small);
  ASSERT_TRUE(presentation);
  ASSERT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), S_OK);
  const ComPtr<IMFMediaEvent> updated = next_event(source);
  EXPECT_EQ(type_of(updated.Get()), MEUpdatedStream);
  EXPECT_EQ(event_object<IUnknown>(updated.Get()), identity(stream.Get()));
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEStreamStarted);
  EXPECT_EQ(type_of(next_event(source).Get()), MESourceStarted);
  sample = session->read(nullptr);
  EXPECT_TRUE(picture_of(sample.Get(), picture::PixelFormat::yuy2, 640, 360));

  EXPECT_EQ(source->Pause(), MF_E_INVALID_STATE_TRANSITION);

  ASSERT_EQ(source->Shutdown(), S_OK);
  DWORD characteristics = 0;
  ComPtr<IMFPresentationDescriptor> after;
  ComPtr<IMFMediaEvent> event;
  ComPtr<IMFStreamDescriptor> descriptor;
  ComPtr<IMFMediaSource> owner;
  EXPECT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), MF_E_SHUTDOWN);
  EXPECT_EQ(source->Stop(), MF_E_SHUTDOWN);
  EXPECT_EQ(source->Pause(), MF_E_SHUTDOWN);
  EXPECT_EQ(source->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
  EXPECT_EQ(source->CreatePresentationDescriptor(&after), MF_E_SHUTDOWN);
  EXPECT_EQ(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
  EXPECT_EQ(source->Shutdown(), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->GetStreamDescriptor(&descriptor), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->GetMediaSource(&owner), MF_E_SHUTDOWN);
}

TEST(SourceControl, RefusesWhatALiveSourceCannotDo) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  IMFMediaSource* source = session->source.Get();
  ComPtr<IMFPresentationDescriptor> presentation = presentation_with(source, kNv12Small);
  ASSERT_TRUE(presentation);

  const GUID other_format = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
  PROPVARIANT from_now{};
  PROPVARIANT seconds{};
  seconds.vt = VT_R8;
  EXPECT_EQ(source->Start(presentation.Get(), &other_format, &from_now),
            MF_E_UNSUPPORTED_TIME_FORMAT);
  EXPECT_EQ(source->Start(presentation.Get(), &GUID_NULL, &seconds), MF_E_UNSUPPORTED_TIME_FORMAT);

  // A format the camera does not offer is refused.
  ComPtr<IMFStreamDescriptor> descriptor;
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFMediaType> odd;
  BOOL selected = FALSE;
  ASSERT_EQ(presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor), S_OK);
  ASSERT_EQ(descriptor->GetMediaTypeHandler(&handler), S_OK);
  ASSERT_EQ(MFCreateMediaType(&odd), S_OK);
  odd->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  odd->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
  odd->SetUINT64(MF_MT_FRAME_SIZE, UINT64{800} << 32 | 600);
  ASSERT_EQ(handler->SetCurrentMediaType(odd.Get()), S_OK);
  EXPECT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), MF_E_INVALIDMEDIATYPE);
  presentation = presentation_with(source, kNv12Small);
  ASSERT_TRUE(presentation);

  // A start without the stream selected starts the source alone.
  ASSERT_EQ(presentation->DeselectStream(0), S_OK);
  ASSERT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), S_OK);
  EXPECT_EQ(type_of(next_event(source).Get()), MESourceStarted);
  EXPECT_FALSE(next_event(source, 200ms)) << "no stream event for an unselected stream";

  // A position in 100-ns units is accepted and a live source starts now.
  PROPVARIANT position{};
  position.vt = VT_I8;
  position.hVal.QuadPart = 50000000;
  ASSERT_EQ(presentation->SelectStream(0), S_OK);
  ASSERT_EQ(source->Start(presentation.Get(), &GUID_NULL, &position), S_OK);
  EXPECT_EQ(type_of(next_event(source).Get()), MENewStream);
}

class FrameRate : public testing::TestWithParam<uint32_t> {};

TEST_P(FrameRate, AnswersRequestsInOrderNoFasterThanTheTypesRate) {
  const uint32_t fps = GetParam();
  const LONGLONG period = 10'000'000 / fps;
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(media_type(picture::PixelFormat::nv12, 640, 480, fps));
  ASSERT_TRUE(session->stream);

  constexpr int kRequests = 12;  // within a second's worth at either rate
  std::vector<ComPtr<IUnknown>> tokens;
  for (int i = 0; i < kRequests; ++i) {
    tokens.push_back(make_token());
    ASSERT_EQ(session->stream->RequestSample(tokens.back().Get()), S_OK);
  }
  std::vector<LONGLONG> times;
  for (int i = 0; i < kRequests; ++i) {
    const ComPtr<IMFMediaEvent> event = next_event(session->stream.Get());
    ASSERT_EQ(type_of(event.Get()), MEMediaSample) << "sample " << i;
    const ComPtr<IMFSample> sample = event_object<IMFSample>(event.Get());
    ASSERT_TRUE(sample);
    EXPECT_EQ(token_of(sample.Get()), tokens[i]) << "sample " << i << " answers request " << i;
    LONGLONG time = 0;
    LONGLONG duration = 0;
    sample->GetSampleTime(&time);
    sample->GetSampleDuration(&duration);
    EXPECT_EQ(duration, period) << "sample " << i;
    times.push_back(time);
  }
  for (int i = 1; i < kRequests; ++i) {
    EXPECT_GT(times[i], times[i - 1]);
  }
  // All asked at once, yet one picture per frame period: the span covers
  // the periods between them (less one for the first picture's rendering).
  EXPECT_GE(times.back() - times.front(), (kRequests - 2) * period);
}

INSTANTIATE_TEST_SUITE_P(Offered, FrameRate, testing::Values(30u, 15u));

TEST(SourceControl, RefusesRequestsBeyondASecondsWorth) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Small);
  ASSERT_TRUE(session->stream);
  int accepted = 0;
  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    const HRESULT hr = session->stream->RequestSample(nullptr);
    if (hr == S_OK) {
      ++accepted;
    } else {
      EXPECT_EQ(hr, MF_E_NOTACCEPTING);
      ++refused;
    }
  }
  // 30 wait; one or two may already be on their way.
  EXPECT_GE(accepted, 30);
  EXPECT_LE(accepted, 32);
  EXPECT_EQ(accepted + refused, 40);
}

TEST(SourceControl, StreamStateRunsPausesAndStopsTheStream) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  session->start(kNv12Small);
  ASSERT_TRUE(session->stream);
  ComPtr<IMFMediaStream2> stream;
  ASSERT_EQ(session->stream.As(&stream), S_OK);
  const auto state_now = [&] {
    MF_STREAM_STATE state = MF_STREAM_STATE_STOPPED;
    EXPECT_EQ(stream->GetStreamState(&state), S_OK);
    return state;
  };
  EXPECT_EQ(state_now(), MF_STREAM_STATE_RUNNING);

  // Paused (the frame server does so for a minimised application): new
  // requests are refused, one already waiting is still answered, and the
  // stream resumes with no new start.
  ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
  ASSERT_EQ(stream->SetStreamState(MF_STREAM_STATE_PAUSED), S_OK);
  EXPECT_EQ(state_now(), MF_STREAM_STATE_PAUSED);
  EXPECT_EQ(stream->SetStreamState(MF_STREAM_STATE_PAUSED), S_OK) << "paused again";
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEMediaSample);
  ASSERT_EQ(stream->SetStreamState(MF_STREAM_STATE_RUNNING), S_OK);
  EXPECT_EQ(state_now(), MF_STREAM_STATE_RUNNING);
  EXPECT_TRUE(picture_of(session->read().Get(), picture::PixelFormat::nv12, 640, 360));

  ASSERT_EQ(stream->SetStreamState(MF_STREAM_STATE_STOPPED), S_OK);
  EXPECT_EQ(state_now(), MF_STREAM_STATE_STOPPED);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
  EXPECT_EQ(stream->SetStreamState(MF_STREAM_STATE_PAUSED), MF_E_INVALID_STATE_TRANSITION)
      << "only a running stream pauses";

  ASSERT_EQ(stream->SetStreamState(MF_STREAM_STATE_RUNNING), S_OK);
  EXPECT_TRUE(picture_of(session->read().Get(), picture::PixelFormat::nv12, 640, 360));
  // Paused, then stopped by the source: the stream says it stopped.
  ASSERT_EQ(stream->SetStreamState(MF_STREAM_STATE_PAUSED), S_OK);
  ASSERT_EQ(session->source->Stop(), S_OK);
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEStreamStopped);
}

TEST(SourceControl, DrawsSamplesFromThePipelinesAllocator) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  ComPtr<IMFSampleAllocatorControl> control;
  ASSERT_EQ(session->source.As(&control), S_OK);
  DWORD input = 99;
  MFSampleAllocatorUsage usage = MFSampleAllocatorUsage_DoesNotAllocate;
  ASSERT_EQ(control->GetAllocatorUsage(0, &input, &usage), S_OK);
  EXPECT_EQ(usage, MFSampleAllocatorUsage_UsesProvidedAllocator);

  ComPtr<IMFVideoSampleAllocator> allocator;
  ASSERT_EQ(MFCreateVideoSampleAllocatorEx(IID_PPV_ARGS(&allocator)), S_OK);
  ComPtr<IMFVideoSampleAllocatorCallback> pool;
  ASSERT_EQ(allocator.As(&pool), S_OK);
  ASSERT_EQ(control->SetDefaultAllocator(0, allocator.Get()), S_OK);
  session->start(kNv12Small);

  // Each sample held takes one from the pool.
  const ComPtr<IMFSample> first = session->read();
  ASSERT_TRUE(picture_of(first.Get(), picture::PixelFormat::nv12, 640, 360));
  LONG free_before = 0;
  ASSERT_EQ(pool->GetFreeSampleCount(&free_before), S_OK);
  const ComPtr<IMFSample> second = session->read();
  ASSERT_TRUE(picture_of(second.Get(), picture::PixelFormat::nv12, 640, 360));
  LONG free_after = 0;
  ASSERT_EQ(pool->GetFreeSampleCount(&free_after), S_OK);
  EXPECT_EQ(free_after, free_before - 1);
}

}  // namespace
}  // namespace korvex::media_source::test
