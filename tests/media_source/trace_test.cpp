// The source's debug trace, as DebugView shows it beside the camera service:
// what the source does, and each failure with its step and HRESULT.

#include <gtest/gtest.h>
#include <mferror.h>

#include <string>
#include <vector>

#include "debug_monitor_win.hpp"
#include "media_source/frame_server_declarations_win.hpp"
#include "platform/hresult_win.hpp"
#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

TEST(Trace, TellsWhatTheSourceDoesAndWhyACallFailed) {
  korvex::test::DebugMonitor monitor;
  ASSERT_TRUE(monitor.ok());
  {
    auto session = CameraSession::open();
    ASSERT_TRUE(session);
    session->start(media_type(picture::PixelFormat::nv12, 640, 480));
    ASSERT_TRUE(session->stream);
    ComPtr<IMFMediaStream2> stream;
    ASSERT_EQ(session->stream.As(&stream), S_OK);
    ASSERT_EQ(stream->SetStreamState(MF_STREAM_STATE_STOPPED), S_OK);
    EXPECT_EQ(stream->SetStreamState(MF_STREAM_STATE_PAUSED), MF_E_INVALID_STATE_TRANSITION);
  }
  const std::vector<std::string> expected = {
      "KorvexSource.dll: source: created\n",
      "KorvexSource.dll: stream: NV12 640x480 at 30 fps\n",
      "KorvexSource.dll: source: started\n",
      "KorvexSource.dll: stream: stopped\n",
      "KorvexSource.dll: stream state paused: " +
          platform::hresult_text(MF_E_INVALID_STATE_TRANSITION) + "\n",
      "KorvexSource.dll: source: shut down\n",
  };
  std::vector<std::string> seen;
  ASSERT_TRUE(monitor.wait_for("source: shut down", std::chrono::seconds(5), &seen))
      << testing::PrintToString(seen);
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace korvex::media_source::test
