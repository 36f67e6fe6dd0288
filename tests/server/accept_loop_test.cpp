#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "server/listener.hpp"

namespace korvex::server {
namespace {

using platform::Accepted;
using platform::AcceptError;
using platform::AcceptFailure;
using platform::AcceptResult;

// Plays back a list of accept outcomes and records what the loop did with them.
struct FakeListener {
  std::deque<AcceptResult> outcomes;
  int served = 0;
  bool serve_fails = false;
  std::vector<std::chrono::milliseconds> pauses;

  AcceptSteps steps() {
    return AcceptSteps{
        [this] {
          AcceptResult next = std::move(outcomes.front());
          outcomes.pop_front();
          return next;
        },
        [this](Accepted) {
          ++served;
          return !serve_fails;
        },
        [this](std::chrono::milliseconds pause) { pauses.push_back(pause); },
    };
  }
};

TEST(AcceptLoop, PassesOverPeersThatWentAndWaitsOutALackOfResources) {
  FakeListener listener;
  listener.outcomes.push_back(AcceptError{AcceptFailure::peer, "Connection aborted"});
  listener.outcomes.push_back(AcceptError{AcceptFailure::resources, "Too many open files"});
  listener.outcomes.push_back(Accepted{});
  listener.outcomes.push_back(AcceptError{AcceptFailure::peer, "Protocol error"});
  listener.outcomes.push_back(AcceptError{AcceptFailure::resources, "No buffer space"});
  listener.outcomes.push_back(Accepted{});
  listener.outcomes.push_back(AcceptError{AcceptFailure::listener, "Bad file descriptor"});

  const auto stopped = accept_connections(listener.steps());
  EXPECT_EQ(stopped, "Bad file descriptor");
  EXPECT_EQ(listener.served, 2);
  EXPECT_EQ(listener.pauses, (std::vector<std::chrono::milliseconds>{kAcceptPause, kAcceptPause}));
  EXPECT_TRUE(listener.outcomes.empty());
}

TEST(AcceptLoop, AConnectionWhoseThreadsCannotStartEndsAcceptingWithoutAnError) {
  FakeListener listener;
  listener.serve_fails = true;
  listener.outcomes.push_back(Accepted{});
  listener.outcomes.push_back(Accepted{});
  EXPECT_EQ(accept_connections(listener.steps()), std::nullopt);
  EXPECT_EQ(listener.served, 1);
}

}  // namespace
}  // namespace korvex::server
