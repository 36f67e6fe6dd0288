#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vcam/camera.hpp"
#include "vcam/camera_slot.hpp"
#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What happened to the fake cameras, in order, as "<name> <event>".
class Log {
 public:
  void add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

class FakeCamera final : public Camera {
 public:
  FakeCamera(std::string name, Log& log, Result<void> start_result = {})
      : name_(std::move(name)), log_(log), start_result_(std::move(start_result)) {}
  ~FakeCamera() override { log_.add(name_ + " released"); }

  Result<void> start() override {
    log_.add(name_ + " started");
    return start_result_;
  }
  void shutdown() override {
    log_.add(name_ + " shut down");
    if (during_shutdown) {
      during_shutdown();
    }
  }

  std::function<void()> during_shutdown;

 private:
  std::string name_;
  Log& log_;
  Result<void> start_result_;
};

TEST(StartCamera, AStartedCameraIsHandedBackAsItIs) {
  Log log;
  auto camera = std::make_unique<FakeCamera>("a", log);
  Camera* const created = camera.get();
  Result<std::unique_ptr<Camera>> started = start_camera(std::move(camera));
  ASSERT_TRUE(started) << started.error();
  EXPECT_EQ(started.value().get(), created);
  EXPECT_THAT(log.entries(), ElementsAre("a started"));
}

TEST(StartCamera, ACameraThatFailsToStartIsReleasedAndItsTextPassedOn) {
  Log log;
  const std::string text =
      "IMFVirtualCamera::Start: Class not registered (0x80040154) "
      "(is KorvexSource.dll registered?)";
  Result<std::unique_ptr<Camera>> started =
      start_camera(std::make_unique<FakeCamera>("a", log, fail(text)));
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error(), text);
  // Released before the caller sees the failure, never shut down.
  EXPECT_THAT(log.entries(), ElementsAre("a started", "a released"));
}

TEST(CameraSlot, ShutdownShutsTheCameraDownOnceThenReleasesIt) {
  Log log;
  CameraSlot slot;
  slot.keep(std::make_unique<FakeCamera>("a", log));
  EXPECT_THAT(log.entries(), IsEmpty());
  slot.shutdown();
  EXPECT_THAT(log.entries(), ElementsAre("a shut down", "a released"));
  slot.shutdown();  // the slot is empty now
  EXPECT_THAT(log.entries(), ElementsAre("a shut down", "a released"));
}

TEST(CameraSlot, ShutdownWithoutACameraDoesNothing) {
  CameraSlot slot;
  slot.shutdown();
  slot.shutdown();
}

TEST(CameraSlot, KeepReleasesTheEarlierCameraWithoutShuttingItDown) {
  Log log;
  CameraSlot slot;
  slot.keep(std::make_unique<FakeCamera>("a", log));
  slot.keep(std::make_unique<FakeCamera>("b", log));
  EXPECT_THAT(log.entries(), ElementsAre("a released"));
  slot.shutdown();
  EXPECT_THAT(log.entries(), ElementsAre("a released", "b shut down", "b released"));
}

TEST(CameraSlot, ASecondShutdownReturnsOnlyOnceTheCameraIsGone) {
  // The console handler and the main thread may both shut down; whichever
  // returns second may end the process, so it must not overtake the first.
  Log log;
  CameraSlot slot;
  auto camera = std::make_unique<FakeCamera>("a", log);
  std::thread second;
  std::atomic<bool> second_returned{false};
  camera->during_shutdown = [&] {
    second = std::thread([&] {
      slot.shutdown();
      second_returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log.add(second_returned ? "second returned early" : "second waiting");
  };
  slot.keep(std::move(camera));
  slot.shutdown();
  second.join();
  EXPECT_TRUE(second_returned);
  EXPECT_THAT(log.entries(), ElementsAre("a shut down", "second waiting", "a released"));
}

TEST(ProcessCamera, ShutdownFromAnotherThreadFindsTheKeptCameraOnce) {
  // As the console event handler does, on a thread of its own; twice at
  // once, as with Ctrl-C during a listener failure.
  Log log;
  keep_virtual_camera(std::make_unique<FakeCamera>("a", log));
  std::thread handler(shutdown_virtual_camera);
  std::thread main_thread(shutdown_virtual_camera);
  handler.join();
  main_thread.join();
  EXPECT_THAT(log.entries(), ElementsAre("a shut down", "a released"));
  shutdown_virtual_camera();
  EXPECT_THAT(log.entries(), ElementsAre("a shut down", "a released"));
}

TEST(ProcessCamera, KeepReplacesAndReleasesTheEarlierCamera) {
  Log log;
  keep_virtual_camera(std::make_unique<FakeCamera>("a", log));
  keep_virtual_camera(std::make_unique<FakeCamera>("b", log));
  EXPECT_THAT(log.entries(), ElementsAre("a released"));
  shutdown_virtual_camera();
  EXPECT_THAT(log.entries(), ElementsAre("a released", "b shut down", "b released"));
}

}  // namespace
}  // namespace korvex::vcam
