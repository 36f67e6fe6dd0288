#pragma once

// Keeps the audio output playing for the whole run: when its stream fails
// (the endpoint was unplugged or disabled, the sound server went away), the
// keeper's thread tries to open the same endpoint again at a fixed interval
// until a stream plays, and says so once.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/audio_host.hpp"
#include "common/result.hpp"

namespace korvex::audio {

// A started stream and what it plays into.
struct OpenedStream {
  std::unique_ptr<OutputStream> stream;
  std::string endpoint_name;
  StreamConfig config;
};

class StreamKeeper {
 public:
  // Opens and starts a stream that reports its failure through the callback.
  using Reopen = std::function<Result<OpenedStream>(ErrorCallback on_error)>;
  using OnError = std::function<void(const std::string& error)>;   // why a stream failed
  using OnBack = std::function<void(const OpenedStream& opened)>;  // a reopened stream plays

  StreamKeeper(Reopen reopen, OnError on_error, OnBack on_back, std::chrono::milliseconds retry);
  StreamKeeper(const StreamKeeper&) = delete;
  StreamKeeper& operator=(const StreamKeeper&) = delete;
  ~StreamKeeper();  // stop()

  // Stops the keeper's thread (waiting for an attempt under way), then the
  // stream, whose render thread it waits for. Safe from any thread and more
  // than once; nothing plays afterwards.
  void stop();

  // stop() on every keeper that exists, for the end of the process: under
  // Wine, the sound system's own thread of a playing stream crashed the exit
  // now and then when the process ended around it.
  static void stop_all();

  // What the first stream reports its failure through.
  ErrorCallback error_callback() const;

  // Keeps `stream` playing from now on; fails only when the keeper's thread
  // cannot start.
  Result<void> keep(std::unique_ptr<OutputStream> stream);

  // False from a failure until a stream plays again.
  bool playing() const;

 private:
  struct Shared {
    Reopen reopen;
    OnError on_error;
    OnBack on_back;
    std::chrono::milliseconds retry;
    mutable std::mutex lock;
    std::condition_variable changed;
    // Guarded by lock.
    std::unique_ptr<OutputStream> stream;
    bool failed = false;
    bool stop = false;
    bool running = false;  // the keeper's thread has started and not returned
  };

  static ErrorCallback report_to(const std::shared_ptr<Shared>& shared);
  // The keeper's thread: waits for a failure, then reopens.
  static void run(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Shared> shared_;
};

}  // namespace korvex::audio
