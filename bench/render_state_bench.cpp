// Cost of the render callback for one 10 ms block, with the phone's audio
// flowing into the jitter buffer at the same pace.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "audio/render_state.hpp"

namespace {

using korvex::audio::RenderState;
using korvex::jitter::JitterBuffer;

template <class Sample>
void render_blocks(benchmark::State& state, uint32_t rate) {
  auto jitter = std::make_shared<JitterBuffer>(40.0);
  jitter->push(std::vector<float>(1920, 0.25f));
  RenderState render(jitter, rate, 2);
  const std::vector<float> message(480, 0.25f);
  std::vector<Sample> out(2 * rate / 100);
  for (auto _ : state) {
    jitter->push(message);
    render.render(std::span<Sample>(out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rate / 100));
}

// The usual case: a 48 kHz float stereo endpoint, samples passed through.
void BM_Render10msF32Stereo48k(benchmark::State& state) {
  render_blocks<float>(state, 48000);
}
BENCHMARK(BM_Render10msF32Stereo48k);

// The fallback: a 44.1 kHz 16-bit endpoint, resampled and converted.
void BM_Render10msI16Stereo44k(benchmark::State& state) {
  render_blocks<int16_t>(state, 44100);
}
BENCHMARK(BM_Render10msI16Stereo44k);

}  // namespace
