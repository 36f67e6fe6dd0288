// Cost of the jitter buffer's two hot calls: the reader's push of one audio
// message and the render thread's pop of one 10 ms block.

#include <benchmark/benchmark.h>

#include <vector>

#include "jitter/jitter_buffer.hpp"

namespace {

using korvex::jitter::JitterBuffer;

// One phone message (480 samples, 10 ms) in, one render block out.
void BM_JitterPushPop480(benchmark::State& state) {
  JitterBuffer jitter(40.0);
  std::vector<float> in(480, 0.25f), out(480);
  jitter.push(std::vector<float>(1920, 0.0f));
  for (auto _ : state) {
    jitter.push(in);
    jitter.pop(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 480);
}
BENCHMARK(BM_JitterPushPop480);

void BM_JitterPush(benchmark::State& state) {
  JitterBuffer jitter(999.0);
  std::vector<float> in(static_cast<size_t>(state.range(0)), 0.25f);
  for (auto _ : state) {
    jitter.push(in);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_JitterPush)->Arg(480)->Arg(2048);

void BM_JitterPopWhileFilling(benchmark::State& state) {
  JitterBuffer jitter(40.0);
  std::vector<float> out(480);
  for (auto _ : state) {
    jitter.pop(out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_JitterPopWhileFilling);

}  // namespace
