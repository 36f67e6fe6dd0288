// Parser::feed on a stream of video messages arriving in 256 KiB receives, as a
// connection delivers them, next to a plain memcpy of the same bytes in the same
// chunks. The parser appends each receive to its buffer and copies each payload
// once more into its frame, so roughly two memcpys' worth is its floor.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "protocol/wire_parser.hpp"

namespace {

using korvex::protocol::encode_message;
using korvex::protocol::MessageType;
using korvex::protocol::Parser;

constexpr size_t kReceive = 256 * 1024;

// Whole video messages of `frame_bytes` coded bytes each, at least 8 MiB in all,
// so the stream does not sit in the cache and the messages straddle receives.
std::vector<uint8_t> video_stream(size_t frame_bytes) {
  std::vector<uint8_t> payload(8 + frame_bytes);
  uint32_t x = 12345;
  for (auto& b : payload) {
    x = x * 1103515245 + 12345;
    b = static_cast<uint8_t>(x >> 24);
  }
  std::vector<uint8_t> stream;
  while (stream.size() < 8 * 1024 * 1024) {
    const auto message = encode_message(static_cast<uint8_t>(MessageType::video), 0, payload);
    stream.insert(stream.end(), message.begin(), message.end());
  }
  return stream;
}

void BM_ParserFeed(benchmark::State& state) {
  const auto stream = video_stream(static_cast<size_t>(state.range(0)));
  const std::span<const uint8_t> bytes(stream);
  Parser parser;
  int64_t frames = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < bytes.size(); at += kReceive) {
      auto messages = parser.feed(bytes.subspan(at, std::min(kReceive, bytes.size() - at)));
      frames += static_cast<int64_t>(messages.size());
      benchmark::DoNotOptimize(messages.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  state.counters["frames"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParserFeed)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20);

// The connection's way: each receive lands in the parser's own buffer (the
// kernel's copy, outside the timing), and parsing copies each payload once.
void BM_ParserReceive(benchmark::State& state) {
  const auto stream = video_stream(static_cast<size_t>(state.range(0)));
  Parser parser;
  int64_t frames = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size();) {
      state.PauseTiming();
      const std::span<uint8_t> space = parser.receive_space(kReceive);
      const size_t n = std::min({kReceive, space.size(), stream.size() - at});
      std::memcpy(space.data(), stream.data() + at, n);
      at += n;
      state.ResumeTiming();
      auto messages = parser.commit(n);
      frames += static_cast<int64_t>(messages.size());
      benchmark::DoNotOptimize(messages.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  state.counters["frames"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParserReceive)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20);

void BM_MemcpyReceives(benchmark::State& state) {
  const auto stream = video_stream(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> receive(kReceive);
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += kReceive) {
      std::memcpy(receive.data(), stream.data() + at, std::min(kReceive, stream.size() - at));
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_MemcpyReceives)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20);

}  // namespace
