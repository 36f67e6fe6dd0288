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
#include "vcam/camera_state.hpp"
#include "vcam/registration_failure.hpp"
#include "vcam/virtual_camera.hpp"

namespace korvex::vcam {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

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

  CameraState state() const override { return reported; }

  std::function<void()> during_shutdown;
  CameraState reported = CameraState::registered;  // what the system says of it

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

TEST(CameraState, ApplicationsMoveItAndALostCameraStaysLost) {
  using E = CameraEvent;
  EXPECT_EQ(after(CameraState::registered, E::source_initialized), CameraState::registered);
  EXPECT_EQ(after(CameraState::registered, E::source_started), CameraState::streaming);
  EXPECT_EQ(after(CameraState::streaming, E::other), CameraState::streaming);
  EXPECT_EQ(after(CameraState::streaming, E::source_stopped), CameraState::registered);
  EXPECT_EQ(after(CameraState::streaming, E::source_uninitialized), CameraState::registered);
  EXPECT_EQ(after(CameraState::streaming, E::pipeline_shut_down), CameraState::lost);
  EXPECT_EQ(after(CameraState::registered, E::error), CameraState::lost);
  for (E event : {E::source_initialized, E::source_started, E::source_stopped, E::other}) {
    EXPECT_EQ(after(CameraState::lost, event), CameraState::lost);
  }
  EXPECT_EQ(state_text(CameraState::streaming), "streaming");
}

// A slot whose cameras the test makes, each named by its registration number.
class TendedSlot : public testing::Test {
 protected:
  using Clock = CameraSlot::Clock;

  void SetUp() override {
    slot.keep(
        make("camera 1"), [this] { return register_again(); }, start);
  }

  std::unique_ptr<FakeCamera> make(std::string name) {
    auto camera = std::make_unique<FakeCamera>(std::move(name), log);
    newest = camera.get();
    return camera;
  }

  Result<std::unique_ptr<Camera>> register_again() {
    ++registrations;
    if (!refusal.empty()) {
      return fail(refusal);
    }
    std::unique_ptr<Camera> camera = make("camera " + std::to_string(registrations + 1));
    return camera;
  }

  Log log;
  CameraSlot slot;
  FakeCamera* newest = nullptr;  // the slot owns it
  int registrations = 0;
  std::string refusal;  // the registration's error while not empty
  const Clock::time_point start = Clock::now();
};

TEST_F(TendedSlot, ShowsWhatTheSystemSaysOfTheCamera) {
  EXPECT_EQ(slot.tend(start)->state, "registered");
  newest->reported = CameraState::streaming;
  const auto status = slot.tend(start + 1s);
  EXPECT_EQ(status->state, "streaming");
  EXPECT_FALSE(status->news);
  EXPECT_EQ(registrations, 0);
}

TEST_F(TendedSlot, ALostCameraIsReplacedAtMostOnceEveryFiveSeconds) {
  newest->reported = CameraState::lost;
  // Lost 2 s after it was registered: not yet.
  EXPECT_EQ(slot.tend(start + 2s)->state, "lost");
  EXPECT_EQ(registrations, 0);
  const auto replaced = slot.tend(start + 5s);
  EXPECT_EQ(replaced->state, "registered");
  EXPECT_EQ(replaced->news, "virtual camera: registered again after the camera service lost it");
  EXPECT_EQ(registrations, 1);
  // The dead camera went before its replacement came.
  EXPECT_THAT(log.entries(), ElementsAre("camera 1 shut down", "camera 1 released"));

  newest->reported = CameraState::lost;  // and again, at once
  EXPECT_EQ(slot.tend(start + 9s)->state, "lost");
  EXPECT_EQ(registrations, 1);
  EXPECT_EQ(slot.tend(start + 10s)->state, "registered");
  EXPECT_EQ(registrations, 2);

  slot.shutdown();  // the replacement is the one removed at the end
  EXPECT_THAT(log.entries(),
              ElementsAre("camera 1 shut down", "camera 1 released", "camera 2 shut down",
                          "camera 2 released", "camera 3 shut down", "camera 3 released"));
}

TEST_F(TendedSlot, AFailedRegistrationIsToldOnceAndTriedAgainLater) {
  newest->reported = CameraState::lost;
  refusal =
      "IMFVirtualCamera::Start: Class not registered (0x80040154) "
      "(is KorvexSource.dll registered?)";
  auto status = slot.tend(start + 5s);
  EXPECT_EQ(status->state, "lost");
  EXPECT_EQ(status->news, "virtual camera: registering it again: " + refusal);
  status = slot.tend(start + 10s);
  EXPECT_EQ(status->state, "lost");
  EXPECT_FALSE(status->news) << "the same failure again is not news";
  EXPECT_EQ(registrations, 2);
  EXPECT_THAT(log.entries(), ElementsAre("camera 1 shut down", "camera 1 released"))
      << "the dead camera is removed once";

  refusal.clear();
  status = slot.tend(start + 15s);
  EXPECT_EQ(status->state, "registered");
  EXPECT_EQ(registrations, 3);
}

TEST_F(TendedSlot, NothingIsRegisteredAgainOnceTheRunEnds) {
  newest->reported = CameraState::lost;
  refusal = "MFCreateVirtualCamera: Access is denied. (0x80070005)";
  slot.tend(start + 5s);  // the lost camera is removed, no replacement came
  slot.shutdown();
  refusal.clear();
  EXPECT_FALSE(slot.tend(start + 60s));
  EXPECT_EQ(registrations, 1);
}

TEST(RegistrationFailure, NamesTheLikelyCauseOfTheCode) {
  EXPECT_EQ(registration_failure("IMFVirtualCamera::Start", 0x80040154,
                                 "Class not registered (0x80040154)"),
            "IMFVirtualCamera::Start: Class not registered (0x80040154) "
            "(is KorvexSource.dll registered?)");
  for (uint32_t missing : {0x80040111u, 0x8007007Eu, 0x800700C1u, 0x80070002u}) {
    EXPECT_TRUE(registration_failure("IMFVirtualCamera::Start", missing, "x")
                    .ends_with(" (is KorvexSource.dll registered?)"))
        << std::hex << missing;
  }
  const std::string denied =
      registration_failure("IMFVirtualCamera::Start", 0x80070005, "Access is denied. (0x80070005)");
  EXPECT_EQ(denied.find("registered?"), std::string::npos) << denied;
  EXPECT_NE(denied.find("Settings > Privacy & security > Camera"), std::string::npos) << denied;
  EXPECT_NE(denied.find("KorvexSource.dll"), std::string::npos) << denied;
  EXPECT_EQ(registration_failure("MFCreateVirtualCamera", 0x80004005, "Unspecified error"),
            "MFCreateVirtualCamera: Unspecified error");
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
