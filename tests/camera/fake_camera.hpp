#pragma once

// A camera that plays a script: its media types, then what each read brings.

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_device.hpp"

namespace korvex::camera::test {

// One read of the script.
struct Step {
  bool error = false;
  bool end_of_stream = false;
  bool sample = false;
  int64_t time = 0;
  uint8_t luma = 0;     // every luma byte of the sample's picture
  std::string failure;  // the read fails with this text when not empty
};

inline Step frame_at(int64_t time, uint8_t luma = 0) {
  return {false, false, true, time, luma, {}};
}
inline Step nothing() {
  return {};
}
inline Step end_of_stream() {
  return {false, true, false, 0, 0, {}};
}

// What the probe did to the camera, seen after it has released it.
struct Trace {
  std::vector<uint32_t> selected;
  int reads = 0;
  int shutdowns = 0;
  int live_samples = 0;  // samples not yet released
  bool released = false;
};

struct Script {
  std::vector<MediaType> types;
  std::deque<Step> steps;  // past its end every read brings the end of stream
  bool converts_yuy2 = false;
  std::string activation_failure;
  std::string select_failure;
};

inline Script script(std::vector<MediaType> types, std::deque<Step> steps) {
  Script made;
  made.types = std::move(types);
  made.steps = std::move(steps);
  return made;
}

class FakeSample final : public Sample {
 public:
  FakeSample(int64_t time, uint8_t luma, Trace& trace) : time_(time), luma_(luma), trace_(trace) {
    ++trace_.live_samples;
  }
  ~FakeSample() override { --trace_.live_samples; }

  Result<Nv12Frame> nv12(uint32_t width, uint32_t height, uint64_t fallback_us) override {
    Nv12Frame frame;
    frame.width = width;
    frame.height = height;
    frame.data.assign(uint64_t{width} * height * 3 / 2, 128);
    std::fill_n(frame.data.begin(), uint64_t{width} * height, luma_);
    frame.timestamp_us = time_ >= 0 ? static_cast<uint64_t>(time_) / 10 : fallback_us;
    return frame;
  }

 private:
  int64_t time_;
  uint8_t luma_;
  Trace& trace_;
};

class FakeReader final : public Reader {
 public:
  FakeReader(Script script, Trace& trace) : script_(std::move(script)), trace_(trace) {}
  ~FakeReader() override { trace_.released = true; }

  std::optional<MediaType> native_type(uint32_t index) override {
    if (index >= script_.types.size()) {
      return std::nullopt;
    }
    return script_.types[index];
  }
  bool converts_yuy2() const override { return script_.converts_yuy2; }
  Result<void> select(uint32_t index) override {
    trace_.selected.push_back(index);
    if (!script_.select_failure.empty()) {
      return fail(script_.select_failure);
    }
    return {};
  }
  Result<ReadResult> read() override {
    ++trace_.reads;
    if (script_.steps.empty()) {
      ReadResult done;
      done.end_of_stream = true;
      return done;
    }
    const Step step = script_.steps.front();
    script_.steps.pop_front();
    if (!step.failure.empty()) {
      return fail(step.failure);
    }
    ReadResult result;
    result.error = step.error;
    result.end_of_stream = step.end_of_stream;
    result.time = step.time;
    if (step.sample) {
      result.sample = std::make_unique<FakeSample>(step.time, step.luma, trace_);
    }
    return result;
  }
  void shutdown() override { ++trace_.shutdowns; }

 private:
  Script script_;
  Trace& trace_;
};

class FakeActivation final : public Activation {
 public:
  FakeActivation(Script script, Trace& trace) : script_(std::move(script)), trace_(trace) {}

  Result<std::unique_ptr<Reader>> activate() override {
    if (!script_.activation_failure.empty()) {
      return fail(script_.activation_failure);
    }
    return std::unique_ptr<Reader>(std::make_unique<FakeReader>(script_, trace_));
  }

 private:
  Script script_;
  Trace& trace_;
};

inline CameraInfo fake_camera(std::string name, Script script, Trace& trace) {
  return {name, "link-of-" + name, std::make_unique<FakeActivation>(std::move(script), trace)};
}

}  // namespace korvex::camera::test
