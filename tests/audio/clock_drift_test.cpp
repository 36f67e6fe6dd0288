// A phone whose clock drifts against the endpoint's, simulated for ten
// minutes on two clocks: the phone pushes 10 ms messages on its own clock, the
// endpoint asks for buffers on its own, and the render state steers between
// them.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "audio/render_state.hpp"

namespace korvex::audio {
namespace {

struct Endpoint {
  uint32_t rate;
  size_t frames_per_callback;
};

struct DriftRun {
  uint64_t underruns = 0;
  uint64_t discarded = 0;
  double lowest_ms = 1e9;  // fill after each callback over the last five minutes
  double highest_ms = 0;
};

DriftRun run_for_ten_minutes(double phone_ppm, Endpoint endpoint) {
  auto jitter = std::make_shared<jitter::JitterBuffer>(40.0);
  RenderState state(jitter, endpoint.rate, 1);
  const std::vector<float> message(480, 0.25f);
  std::vector<float> buffer(endpoint.frames_per_callback);

  // Both clocks in seconds of the endpoint's clock. A phone clock that runs
  // fast sends its 10 ms messages a little more often.
  const double message_period = 0.010 / (1.0 + phone_ppm * 1e-6);
  const double callback_period =
      static_cast<double>(endpoint.frames_per_callback) / static_cast<double>(endpoint.rate);
  double next_message = 0.0;
  double next_callback = 0.0037;  // the two clocks start out of step
  DriftRun run;
  while (next_callback < 600.0) {
    if (next_message <= next_callback) {
      jitter->push(message);
      next_message += message_period;
    } else {
      state.render(std::span<float>(buffer));
      if (next_callback > 300.0) {
        run.lowest_ms = std::min(run.lowest_ms, jitter->buffered_ms());
        run.highest_ms = std::max(run.highest_ms, jitter->buffered_ms());
      }
      next_callback += callback_period;
    }
  }
  run.underruns = jitter->underruns();
  run.discarded = jitter->discarded();
  return run;
}

TEST(ClockDrift, TwoHundredPpmEitherWayNeitherDrainsNorOverfillsTheBuffer) {
  // Without steering, 200 ppm moves the fill by 120 ms in ten minutes: far
  // past the 30 ms left before running dry or the 80 ms before the ceiling.
  const struct {
    double ppm;
    Endpoint endpoint;
  } cases[] = {
      {+200, {48000, 480}},  // 10 ms callbacks, as PulseAudio asks here
      {-200, {48000, 480}},
      {+200, {48000, 1440}},  // bursts of 30 ms
      {-200, {44100, 441}},   // resampled
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.ppm << " ppm, " << c.endpoint.rate << " Hz, "
                                      << c.endpoint.frames_per_callback << " frames");
    const DriftRun run = run_for_ten_minutes(c.ppm, c.endpoint);
    EXPECT_EQ(run.underruns, 0u);
    EXPECT_EQ(run.discarded, 0u);
    // Held near the 40 ms it started from, not just inside the limits.
    EXPECT_GT(run.lowest_ms, 15.0);
    EXPECT_LT(run.highest_ms, 70.0);
  }
}

}  // namespace
}  // namespace korvex::audio
