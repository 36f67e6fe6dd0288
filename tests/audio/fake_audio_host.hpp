#pragma once

// A scripted audio host for the portable audio logic: endpoints with given
// names, ranges and defaults, and streams that record what was asked of them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_host.hpp"

namespace korvex::audio::testing {

struct FakeStream final : OutputStream {
  Result<void> play_result;
  bool* played = nullptr;
  Result<void> play() override {
    if (played != nullptr && play_result) {
      *played = true;
    }
    return play_result;
  }
};

struct FakeEndpoint final : OutputEndpoint {
  Result<std::string> name_result = fail("unreadable");
  Result<std::vector<ConfigRange>> ranges = std::vector<ConfigRange>{};
  Result<StreamConfig> default_result = fail("no mix format");
  std::optional<std::string> build_error;
  Result<void> play_result;

  // What the last build_stream got.
  std::optional<StreamConfig> built;
  DataCallback on_data;
  ErrorCallback on_error;
  bool played = false;

  explicit FakeEndpoint(Result<std::string> name) : name_result(std::move(name)) {}

  Result<std::string> name() const override { return name_result; }
  Result<std::vector<ConfigRange>> supported_configs() const override { return ranges; }
  Result<StreamConfig> default_config() const override { return default_result; }
  Result<std::unique_ptr<OutputStream>> build_stream(const StreamConfig& config, DataCallback data,
                                                     ErrorCallback error) override {
    if (build_error) {
      return fail(*build_error);
    }
    built = config;
    on_data = std::move(data);
    on_error = std::move(error);
    auto stream = std::make_unique<FakeStream>();
    stream->play_result = play_result;
    stream->played = &played;
    return std::unique_ptr<OutputStream>(std::move(stream));
  }
};

struct FakeHost final : AudioHost {
  std::vector<std::shared_ptr<FakeEndpoint>> endpoints;
  std::shared_ptr<FakeEndpoint> default_endpoint;
  std::optional<std::string> enumerate_error;

  std::shared_ptr<FakeEndpoint> add(Result<std::string> name) {
    endpoints.push_back(std::make_shared<FakeEndpoint>(std::move(name)));
    return endpoints.back();
  }

  std::string_view name() const override { return "Fake"; }
  std::shared_ptr<OutputEndpoint> default_output() override { return default_endpoint; }
  Result<std::vector<std::shared_ptr<OutputEndpoint>>> outputs() override {
    if (enumerate_error) {
      return fail(*enumerate_error);
    }
    return std::vector<std::shared_ptr<OutputEndpoint>>(endpoints.begin(), endpoints.end());
  }
};

}  // namespace korvex::audio::testing
