#pragma once

// A scripted audio host for the portable audio logic: endpoints with given
// names, ranges and defaults, and streams that record what was asked of them.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_host.hpp"

namespace korvex::audio::testing {

struct FakeStream final : OutputStream {
  Result<void> play_result;
  std::atomic<int>* plays = nullptr;
  std::atomic<int>* streams;  // counts the streams that exist
  explicit FakeStream(std::atomic<int>* count) : streams(count) { ++*streams; }
  ~FakeStream() override { --*streams; }
  Result<void> play() override {
    if (plays != nullptr && play_result) {
      ++*plays;
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

  // What the last build_stream got. A stream built on another thread may
  // be looked at once `plays` has counted it.
  std::optional<StreamConfig> built;
  DataCallback on_data;
  ErrorCallback on_error;
  std::atomic<int> plays{0};
  std::atomic<int> streams{0};  // built and not yet let go of

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
    auto stream = std::make_unique<FakeStream>(&streams);
    stream->play_result = play_result;
    stream->plays = &plays;
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

// The same endpoints for every host the factory makes, as they are when it
// is asked: a test can unplug and plug them while another thread looks.
class SharedHost {
 public:
  explicit SharedHost(std::vector<std::shared_ptr<FakeEndpoint>> endpoints)
      : state_(std::make_shared<State>()) {
    state_->endpoints = std::move(endpoints);
  }

  void unplug(const std::shared_ptr<FakeEndpoint>& endpoint) {
    std::lock_guard hold(state_->lock);
    std::erase(state_->endpoints, endpoint);
  }
  void plug(std::shared_ptr<FakeEndpoint> endpoint) {
    std::lock_guard hold(state_->lock);
    state_->endpoints.push_back(std::move(endpoint));
  }

  std::function<std::unique_ptr<AudioHost>()> factory() const {
    return [state = state_] {
      auto host = std::make_unique<FakeHost>();
      std::lock_guard hold(state->lock);
      host->endpoints = state->endpoints;
      return std::unique_ptr<AudioHost>(std::move(host));
    };
  }

 private:
  struct State {
    std::mutex lock;
    std::vector<std::shared_ptr<FakeEndpoint>> endpoints;  // guarded by lock
  };
  std::shared_ptr<State> state_;
};

}  // namespace korvex::audio::testing
