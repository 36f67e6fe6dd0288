// The callback given to IMFVirtualCamera::Start, fed the events the camera
// service sends, carried the ways an async result can carry them.

#include <gtest/gtest.h>
#include <mfapi.h>
#include <mferror.h>

#include "vcam/camera_events_win.hpp"

namespace korvex::vcam {
namespace {

using Microsoft::WRL::ComPtr;

constexpr GUID kSourceStart = {
    0xB1EEB989, 0xB456, 0x4F4A, {0xAE, 0x40, 0x07, 0x9C, 0x28, 0xE2, 0x4A, 0xF8}};
constexpr GUID kSourceStop = {
    0xB7FE7A61, 0xFE91, 0x415E, {0x86, 0x08, 0xD3, 0x7D, 0xED, 0xB1, 0xA5, 0x8B}};
constexpr GUID kPipelineShutdown = {
    0x45A81B31, 0x43F8, 0x4E5D, {0x8C, 0xE2, 0x22, 0xDC, 0xE0, 0x26, 0x99, 0x6D}};

ComPtr<IMFMediaEvent> event(MediaEventType type, const GUID& extended, HRESULT status = S_OK) {
  ComPtr<IMFMediaEvent> made;
  EXPECT_EQ(MFCreateMediaEvent(type, extended, status, nullptr, &made), S_OK);
  return made;
}

enum class Carried { as_object, as_state };

void deliver(CameraEvents* events, IMFMediaEvent* what, Carried how) {
  ComPtr<IMFAsyncResult> result;
  ASSERT_EQ(how == Carried::as_object ? MFCreateAsyncResult(what, events, nullptr, &result)
                                      : MFCreateAsyncResult(nullptr, events, what, &result),
            S_OK);
  EXPECT_EQ(events->Invoke(result.Get()), S_OK);
}

class CameraEventsTest : public testing::TestWithParam<Carried> {
 protected:
  void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_LITE), S_OK); }
  void TearDown() override { MFShutdown(); }
};

TEST_P(CameraEventsTest, FollowApplicationsAndLoseTheCameraWithItsPipeline) {
  ComPtr<CameraEvents> events = CameraEvents::create();
  ASSERT_TRUE(events);
  EXPECT_EQ(events->state(), CameraState::registered);
  deliver(events.Get(), event(MEExtendedType, kSourceStart).Get(), GetParam());
  EXPECT_EQ(events->state(), CameraState::streaming);
  deliver(events.Get(), event(MEExtendedType, kSourceStop).Get(), GetParam());
  EXPECT_EQ(events->state(), CameraState::registered);
  deliver(events.Get(), event(MEExtendedType, GUID_NULL).Get(), GetParam());  // someone else's
  EXPECT_EQ(events->state(), CameraState::registered);
  deliver(events.Get(), event(MEExtendedType, kPipelineShutdown).Get(), GetParam());
  EXPECT_EQ(events->state(), CameraState::lost);
  deliver(events.Get(), event(MEExtendedType, kSourceStart).Get(), GetParam());
  EXPECT_EQ(events->state(), CameraState::lost) << "only registering again revives it";
}

TEST_P(CameraEventsTest, AnErrorLosesTheCamera) {
  ComPtr<CameraEvents> events = CameraEvents::create();
  ASSERT_TRUE(events);
  deliver(events.Get(), event(MEError, GUID_NULL, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED).Get(),
          GetParam());
  EXPECT_EQ(events->state(), CameraState::lost);
}

INSTANTIATE_TEST_SUITE_P(Carried, CameraEventsTest,
                         testing::Values(Carried::as_object, Carried::as_state));

TEST(CameraEvents, AResultWithoutAnEventChangesNothing) {
  ComPtr<CameraEvents> events = CameraEvents::create();
  ASSERT_TRUE(events);
  ComPtr<IMFAsyncResult> result;
  ASSERT_EQ(MFCreateAsyncResult(nullptr, events.Get(), nullptr, &result), S_OK);
  EXPECT_EQ(events->Invoke(result.Get()), S_OK);
  EXPECT_EQ(events->Invoke(nullptr), E_POINTER);
  EXPECT_EQ(events->state(), CameraState::registered);
}

}  // namespace
}  // namespace korvex::vcam
