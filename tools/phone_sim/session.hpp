#pragma once

// One streaming session: what the video, audio and reply paths share while
// the simulator is connected.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "connection.hpp"
#include "options.hpp"
#include "pre_encoded.hpp"

namespace korvex::phone_sim {

struct Counts {
  std::atomic<uint32_t> frames{0};
  std::atomic<uint32_t> keyframes{0};
  std::atomic<uint32_t> audio{0};
  std::atomic<uint32_t> pings_answered{0};
  std::atomic<uint32_t> keyframe_requests{0};
  std::atomic<uint32_t> late{0};  // pictures that left more than a frame time behind schedule
};

class Session {
 public:
  Session(Connection& connection, const Options& options, const std::atomic<bool>& interrupted)
      : connection(connection), options(options), interrupted_(interrupted) {}

  Connection& connection;
  const Options& options;
  // The pace of both media paths counts from here; set before they start.
  std::chrono::steady_clock::time_point start;
  Counts counts;
  // Set by the reply path on a keyframe request; the video path takes it.
  std::atomic<bool> keyframe_wanted{false};
  // With --pre-encode: the pictures and their schedule, made before connecting
  // (flat out, their timestamps are rewritten as they go).
  PreEncoded* pre_encoded = nullptr;

  // False once the run is over: interrupted, finished, or failed.
  bool running() const { return !ending_ && !interrupted_; }
  void end() { ending_ = true; }

  // Records why the run failed (the first reason only) and ends it.
  void end_with_error(const std::string& text);
  std::string error() const;

 private:
  const std::atomic<bool>& interrupted_;
  std::atomic<bool> ending_{false};
  mutable std::mutex error_lock_;
  std::string error_;
};

// Sleeps until `due`, waking early when the run ends.
void sleep_until(const Session& session, std::chrono::steady_clock::time_point due);

// Sends the hello, then streams until the duration is over, the run is
// interrupted or the connection fails; ends with a Bye when it can.
void run_session(Session& session);

}  // namespace korvex::phone_sim
