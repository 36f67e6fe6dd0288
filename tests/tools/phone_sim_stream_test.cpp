// Runs the real phone simulator against a listener in the test, records what
// it sends and decodes its video with libavcodec.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "frame_stamp.hpp"
#include "h264_decode.hpp"
#include "platform/unique_fd.hpp"
#include "protocol/wire.hpp"
#include "stream_file.hpp"

extern char** environ;

namespace korvex::tools {
namespace {

using platform::UniqueFd;

// A listening socket on 127.0.0.1 with a port of the system's choosing.
struct Listener {
  UniqueFd fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  uint16_t port = 0;

  Listener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(fd.get(), 1), 0);
    EXPECT_EQ(::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    port = ntohs(address.sin_port);
  }
};

// The simulator as a child process with its standard output on a pipe.
struct Simulator {
  pid_t pid = -1;
  UniqueFd out;

  explicit Simulator(const std::vector<std::string>& args) {
    int pipe_fds[2];
    EXPECT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    std::vector<std::string> all = {KORVEX_PHONE_SIM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    out.reset(pipe_fds[0]);
  }

  // Waits for the end; returns the exit status and everything it printed.
  std::pair<int, std::string> finish() {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out.get(), buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<size_t>(n));
    }
    out.reset();
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }

  ~Simulator() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      finish();
    }
  }
};

bool read_exactly(int fd, uint8_t* into, size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, into, size, 0);
    if (n <= 0) {
      return false;
    }
    into += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

struct Received {
  uint8_t type = 0;
  uint8_t flags = 0;
  std::vector<uint8_t> payload;
};

// The next whole message; empty at the end of the stream. The simulator's
// framing is taken apart by hand here, so this test does not lean on the
// receiver's parser.
std::optional<Received> next_message(int fd) {
  uint8_t header[protocol::kHeaderSize];
  if (!read_exactly(fd, header, sizeof header)) {
    return std::nullopt;
  }
  EXPECT_EQ(std::memcmp(header, protocol::kMagic, 4), 0);
  uint32_t length = 0;
  std::memcpy(&length, header + 8, 4);  // little-endian, as this machine
  Received m{header[4], header[5], std::vector<uint8_t>(length)};
  if (!read_exactly(fd, m.payload.data(), length)) {
    return std::nullopt;
  }
  return m;
}

uint64_t read_u64(const std::vector<uint8_t>& payload) {
  uint64_t value = 0;
  std::memcpy(&value, payload.data(), 8);
  return value;
}

uint64_t wall_clock_us() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

struct VideoFrame {
  uint64_t pts = 0;
  std::vector<uint8_t> data;
  bool keyframe = false;
};

TEST(PhoneSimStream, DecodesCleanlyWithStampsAndKeyframesOnScheduleAndOnRequest) {
  constexpr uint32_t kRequestAfter = 20;  // pictures received before asking for a keyframe
  Listener listener;
  const uint64_t started_us = wall_clock_us();
  Simulator sim({"--port", std::to_string(listener.port), "--duration", "2", "--size", "640x360",
                 "--fps", "30", "--gop", "15", "--bitrate", "1500", "--audio", "none"});
  UniqueFd phone(::accept4(listener.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_GE(phone.get(), 0);

  std::vector<VideoFrame> frames;
  bool bye = false;
  while (auto m = next_message(phone.get())) {
    ASSERT_FALSE(bye) << "nothing may follow the Bye";
    if (m->type == static_cast<uint8_t>(protocol::MessageType::bye)) {
      bye = true;
    } else if (m->type == static_cast<uint8_t>(protocol::MessageType::video)) {
      ASSERT_GE(m->payload.size(), 8u);
      frames.push_back({read_u64(m->payload),
                        {m->payload.begin() + 8, m->payload.end()},
                        (m->flags & protocol::kFlagKeyframe) != 0});
      if (frames.size() == kRequestAfter) {
        const std::string request = R"({"cmd":"keyframe"})";
        const auto message = protocol::encode_message(
            static_cast<uint8_t>(protocol::MessageType::control), 0,
            {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
        ASSERT_EQ(::send(phone.get(), message.data(), message.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(message.size()));
      }
    }
  }
  const uint64_t ended_us = wall_clock_us();
  const auto [status, out] = sim.finish();
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(bye);
  ASSERT_EQ(frames.size(), 60u);

  // Keyframes: every 15 pictures, and one within a few pictures of the
  // request, from which the schedule counts again.
  std::vector<uint32_t> keys;
  for (uint32_t i = 0; i < frames.size(); ++i) {
    if (frames[i].keyframe) {
      keys.push_back(i);
    }
  }
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(keys[0], 0u);
  EXPECT_EQ(keys[1], 15u);
  EXPECT_GE(keys[2], kRequestAfter);
  EXPECT_LE(keys[2], kRequestAfter + 3);
  for (size_t k = 3; k < keys.size(); ++k) {
    EXPECT_EQ(keys[k], keys[k - 1] + 15);
  }
  EXPECT_EQ(keys.size(), 3 + (59 - keys[2]) / 15);
  EXPECT_NE(out.find("frames=60 keyframes=" + std::to_string(keys.size()) +
                     " audio=0 pings_answered=0 keyframe_requests=1 "),
            std::string::npos)
      << out;

  Decoder decoder;
  uint64_t last_send_us = started_us;
  for (uint32_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "picture " << i);
    EXPECT_EQ(frames[i].pts, uint64_t{i} * 1'000'000 / 30);
    auto pictures = decoder.decode(frames[i].data);
    ASSERT_EQ(pictures.size(), 1u);
    const DecodedPicture& p = pictures[0];
    ASSERT_EQ(p.width, 640u);
    ASSERT_EQ(p.height, 360u);
    EXPECT_EQ(p.keyframe, frames[i].keyframe);
    const auto stamp = read_stamp(p.luma.data(), p.width, p.height, p.width);
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(stamp->index, i);
    // Send times are wall-clock, in order, taken during the run.
    EXPECT_GE(stamp->send_time_us, last_send_us);
    EXPECT_LE(stamp->send_time_us, ended_us);
    last_send_us = stamp->send_time_us;
    expect_stamp_levels(p, 8.0);
  }
  // Paced in real time: 60 pictures at 30 fps span about two seconds.
  EXPECT_GE(last_send_us - started_us, 1'900'000u);
}

TEST(PhoneSimStream, PreEncodedPicturesLeaveWhenTheirStampsSayAndAreSavedAsSent) {
  Listener listener;
  const std::string saved = testing::TempDir() + "phone_sim_pre_encoded.kvs";
  Simulator sim({"--port", std::to_string(listener.port), "--duration", "1", "--size", "320x180",
                 "--fps", "30", "--gop", "15", "--audio", "none", "--pre-encode", "--save", saved});
  UniqueFd phone(::accept4(listener.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_GE(phone.get(), 0);
  std::vector<VideoFrame> frames;
  std::vector<uint64_t> arrived_us;
  while (auto m = next_message(phone.get())) {
    if (m->type == static_cast<uint8_t>(protocol::MessageType::video)) {
      arrived_us.push_back(wall_clock_us());
      frames.push_back({read_u64(m->payload),
                        {m->payload.begin() + 8, m->payload.end()},
                        (m->flags & protocol::kFlagKeyframe) != 0});
    }
  }
  const auto [status, out] = sim.finish();
  EXPECT_EQ(status, 0) << out;
  ASSERT_EQ(frames.size(), 30u) << out;

  const auto stored = test::read_stream_file(saved);
  ASSERT_TRUE(stored.has_value());
  ASSERT_EQ(stored->size(), frames.size());
  Decoder decoder;
  std::optional<uint64_t> first_send_us;
  for (uint32_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "picture " << i);
    EXPECT_EQ((*stored)[i].data, frames[i].data);
    EXPECT_EQ((*stored)[i].pts_us, frames[i].pts);
    EXPECT_EQ((*stored)[i].keyframe, frames[i].keyframe);
    auto pictures = decoder.decode(frames[i].data);
    ASSERT_EQ(pictures.size(), 1u);
    const auto stamp = read_stamp(pictures[0].luma.data(), 320, 180, 320);
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(stamp->index, i);
    // The stamps are the schedule itself, and no picture leaves before its time.
    first_send_us = first_send_us.value_or(stamp->send_time_us);
    EXPECT_EQ(stamp->send_time_us, *first_send_us + frames[i].pts);
    EXPECT_GE(arrived_us[i] + 2000, stamp->send_time_us);
  }
}

TEST(PhoneSimStream, FlatOutRepeatsThePreEncodedPassBackToBackWithRisingTimestamps) {
  constexpr uint32_t kPass = 10;  // --duration 1 at --fps 10
  Listener listener;
  const std::string saved = testing::TempDir() + "phone_sim_flat_out.kvs";
  Simulator sim({"--port", std::to_string(listener.port), "--duration", "1", "--size", "320x180",
                 "--fps", "10", "--gop", "5", "--bitrate", "300", "--audio", "none", "--pre-encode",
                 "--flat-out", "--save", saved});
  UniqueFd phone(::accept4(listener.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_GE(phone.get(), 0);
  const auto stored = test::read_stream_file(saved);
  ASSERT_TRUE(stored.has_value());
  ASSERT_EQ(stored->size(), kPass);

  // Every message is the saved pass's picture i mod 10, in order, its
  // timestamp running on at 10 fps; the first pass decodes to its stamps.
  Decoder decoder;
  uint64_t videos = 0;
  uint64_t keyframes = 0;
  while (auto m = next_message(phone.get())) {
    if (m->type != static_cast<uint8_t>(protocol::MessageType::video)) {
      continue;
    }
    SCOPED_TRACE(testing::Message() << "message " << videos);
    const test::StoredUnit& unit = (*stored)[videos % kPass];
    ASSERT_EQ(read_u64(m->payload), videos * 100'000);
    ASSERT_TRUE(
        std::equal(m->payload.begin() + 8, m->payload.end(), unit.data.begin(), unit.data.end()));
    const bool keyframe = (m->flags & protocol::kFlagKeyframe) != 0;
    ASSERT_EQ(keyframe, unit.keyframe);
    keyframes += keyframe ? 1 : 0;
    if (videos < kPass) {
      auto pictures = decoder.decode(unit.data);
      ASSERT_EQ(pictures.size(), 1u);
      const auto stamp = read_stamp(pictures[0].luma.data(), 320, 180, 320);
      ASSERT_TRUE(stamp.has_value());
      EXPECT_EQ(stamp->index, videos);
    }
    ++videos;
  }
  const auto [status, out] = sim.finish();
  EXPECT_EQ(status, 0) << out;
  // Paced, a second holds 10 pictures; back to back, many passes of them.
  EXPECT_GE(videos, 5 * kPass) << out;
  EXPECT_NE(out.find(fmt::format("frames={} keyframes={} ", videos, keyframes)), std::string::npos)
      << out;
}

}  // namespace
}  // namespace korvex::tools
