// The camera's cost per picture at 1080p: a new frame of the same size copied
// out of the section and into the camera's buffer, one of 720p scaled up,
// the YUY2 path, and the placeholder.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/camera_picture.hpp"
#include "section/frame_section.hpp"

namespace {

using korvex::Nv12Frame;
using korvex::Result;
using korvex::picture::CameraPicture;
using korvex::picture::PictureBuffer;
using korvex::picture::PixelFormat;
namespace section = korvex::section;

struct Setup {
  std::unique_ptr<uint64_t[]> memory{new uint64_t[section::kSectionSize / 8]()};
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(memory.get()); }
  CameraPicture camera{[this]() -> Result<section::MappedSection> {
                         return section::MappedSection(bytes(), [](uint8_t*) {});
                       },
                       [] { return uint64_t{1000}; }};
};

Nv12Frame frame(uint32_t width, uint32_t height) {
  Nv12Frame f;
  f.width = width;
  f.height = height;
  f.data.resize(uint64_t{width} * height * 3 / 2);
  for (size_t i = 0; i < f.data.size(); ++i) {
    f.data[i] = static_cast<uint8_t>(i * 31 / 7);
  }
  return f;
}

void render(benchmark::State& state, uint32_t width, uint32_t height, PixelFormat format,
            bool placeholder) {
  Setup setup;
  const auto geometry = section::adopt_section(setup.bytes()).value();
  const Nv12Frame source = frame(width, height);
  std::vector<uint8_t> out(1920 * 1080 * 2);
  const PictureBuffer buffer{format, 1920, 1080, out.data(),
                             format == PixelFormat::nv12 ? 1920u : 3840u};
  for (auto _ : state) {
    if (!placeholder) {
      state.PauseTiming();  // a new frame each time, so the copy out of the section counts
      section::publish_frame(setup.bytes(), geometry, source, 1000);
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(setup.camera.render(buffer));
  }
}

void BM_Copy1080p(benchmark::State& state) {
  render(state, 1920, 1080, PixelFormat::nv12, false);
}
void BM_Scale720pTo1080p(benchmark::State& state) {
  render(state, 1280, 720, PixelFormat::nv12, false);
}
void BM_Yuy2From1080p(benchmark::State& state) {
  render(state, 1920, 1080, PixelFormat::yuy2, false);
}
void BM_Placeholder1080p(benchmark::State& state) {
  render(state, 0, 0, PixelFormat::nv12, true);
}

BENCHMARK(BM_Copy1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale720pTo1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Yuy2From1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Placeholder1080p)->Unit(benchmark::kMillisecond);

}  // namespace
