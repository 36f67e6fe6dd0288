#include <algorithm>
#include <chrono>

#include <fmt/format.h>

#include "camera/camera_choice.hpp"
#include "camera/camera_modes.hpp"
#include "png/frame_dump.hpp"

namespace korvex::camera {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Lists every native type, in the camera's order, until the first that
// cannot be read.
std::vector<MediaType> list_types(Reader& reader, const Console& console) {
  std::vector<MediaType> types;
  for (uint32_t i = 0;; ++i) {
    std::optional<MediaType> type = reader.native_type(i);
    if (!type) {
      return types;
    }
    console.out(fmt::format("   type {}: {} {}x{} @ {:.0f} fps\n", i, subtype_name(type->subtype),
                            type->width, type->height, type->fps));
    types.push_back(*type);
  }
}

// Writes sample number `n` as frame-{n}.png and says where.
Result<void> dump(Sample& sample, const MediaType& type, int64_t time, uint64_t n,
                  const std::string& dir, const Console& console) {
  const uint64_t fallback_us = static_cast<uint64_t>(std::max<int64_t>(time / 10, 0));
  Result<Nv12Frame> frame = sample.nv12(type.width, type.height, fallback_us);
  if (!frame) {
    return Error{frame.error()};
  }
  Result<std::string> path = png::dump_frame(dir, n, frame.value());
  if (!path) {
    return Error{path.error()};
  }
  console.out(fmt::format("   wrote {}\n", path.value()));
  return {};
}

// Reads up to `request.frames` samples and reports them. The reader is shut
// down only when the probe succeeds; on failure it is just released.
Result<void> read_frames(Reader& reader, const MediaType& type, const ProbeRequest& request,
                         const Console& console) {
  console.out(
      fmt::format("-> reading {} frames at {}x{} NV12\n", request.frames, type.width, type.height));
  const Clock::time_point t0 = Clock::now();
  uint32_t count = 0;
  int64_t first = 0;
  int64_t last = 0;
  while (count < request.frames) {
    Result<ReadResult> read = reader.read();
    if (!read) {
      return Error{read.error()};
    }
    if (read->error) {
      return fail("source reader reported an error");
    }
    if (read->end_of_stream) {
      break;
    }
    if (!read->sample) {
      continue;
    }
    ++count;
    if (count == 1) {
      first = read->time;
      console.out(fmt::format("   first frame after {:.0f} ms\n", seconds_since(t0) * 1000));
    }
    last = read->time;
    if (request.dump_dir && (count == 1 || count == request.frames)) {
      if (auto dumped = dump(*read->sample, type, read->time, count, *request.dump_dir, console);
          !dumped) {
        return dumped;
      }
    }
  }
  const double elapsed = seconds_since(t0);
  const double span = count > 0 ? static_cast<double>(last - first) / 10'000'000 : 0;
  const double rate = count / std::max(elapsed, 0.001);
  console.out(fmt::format("-> {} frames in {:.2f} s = {:.1f} fps, sample times span {:.2f} s\n",
                          count, elapsed, rate, span));
  return {};
}

Result<void> probe(const std::vector<CameraInfo>& cameras, const ProbeRequest& request,
                   const Console& console) {
  Result<size_t> chosen = choose_camera(cameras, request.name);
  if (!chosen) {
    return Error{chosen.error()};
  }
  Result<std::unique_ptr<Reader>> activated = cameras[chosen.value()].activation->activate();
  if (!activated) {
    return Error{activated.error()};
  }
  Reader& reader = *activated.value();
  const std::vector<MediaType> types = list_types(reader, console);
  const std::optional<size_t> type = choose_type(types, reader.converts_yuy2());
  if (!type) {
    return fail("camera offers no NV12 type");
  }
  if (auto selected = reader.select(static_cast<uint32_t>(*type)); !selected) {
    return selected;
  }
  if (auto read = read_frames(reader, types[*type], request, console); !read) {
    return read;
  }
  reader.shutdown();
  return {};
}

}  // namespace

int probe_camera(Result<std::vector<CameraInfo>> cameras, const ProbeRequest& request,
                 const Console& console) {
  Result<void> probed = cameras ? probe(cameras.value(), request, console) : Error{cameras.error()};
  if (!probed) {
    console.err(fmt::format("probe: {}\n", probed.error()));
    return 1;
  }
  return 0;
}

}  // namespace korvex::camera
