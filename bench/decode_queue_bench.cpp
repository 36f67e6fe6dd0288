// Cost of moving one coded frame through the decode queue (its bytes move, so
// their size does not matter), with and without the eviction scan of a full queue.

#include <benchmark/benchmark.h>

#include <vector>

#include "frames/decode_queue.hpp"

namespace {

using korvex::frames::DecodeQueue;
using korvex::frames::DecodeWork;
using korvex::frames::Frame;

void BM_QueuePushPop(benchmark::State& state) {
  DecodeQueue queue(8, 64 << 20);
  uint64_t pts = 0;
  for (auto _ : state) {
    queue.push(Frame{{}, pts++, false});
    DecodeWork item = queue.pop();
    benchmark::DoNotOptimize(item);
  }
}
BENCHMARK(BM_QueuePushPop);

// A push into a full queue of keyframes scans all of it before evicting.
void BM_QueuePushEvicting(benchmark::State& state) {
  DecodeQueue queue(8, 64 << 20);
  uint64_t pts = 0;
  for (int i = 0; i < 8; ++i) {
    queue.push(Frame{{}, pts++, true});
  }
  for (auto _ : state) {
    queue.push(Frame{{}, pts++, true});
  }
  state.counters["evicted"] = static_cast<double>(queue.evicted());
}
BENCHMARK(BM_QueuePushEvicting);

}  // namespace
