// The reader loop over one end of a socket pair, the test playing the phone
// on the other end.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <thread>
#include <variant>

#include "frames/decode_queue.hpp"
#include "jitter/jitter_buffer.hpp"
#include "protocol/wire.hpp"
#include "section/frame_writer.hpp"
#include "server/connection.hpp"
#include "server/hello_handling.hpp"
#include "server/server_context.hpp"

namespace korvex::section {

// The writer's test seam: one that never maps a section and runs no thread.
class FrameWriterTest {
 public:
  static std::shared_ptr<FrameWriter> unmapped() {
    return std::shared_ptr<FrameWriter>(new FrameWriter(
        [](bool*) -> Result<MappedSection> { return fail("no section in this test"); },
        [] { return uint64_t{0}; }, [](std::string_view) {}));
  }
};

}  // namespace korvex::section

namespace korvex::server {
namespace {

using protocol::MessageType;

std::vector<uint8_t> message(MessageType type, uint8_t flags, std::vector<uint8_t> payload) {
  return protocol::encode_message(static_cast<uint8_t>(type), flags, payload);
}

std::vector<uint8_t> video(bool keyframe, size_t data_bytes) {
  std::vector<uint8_t> payload(8 + data_bytes, 0x11);
  return message(MessageType::video, keyframe ? 0x01 : 0x00, payload);
}

std::vector<uint8_t> audio(size_t samples) {
  std::vector<uint8_t> payload(8 + 2 * samples, 0x10);
  return message(MessageType::audio, 0, payload);
}

std::vector<uint8_t> hello(std::string_view json) {
  return message(MessageType::hello, 0, std::vector<uint8_t>(json.begin(), json.end()));
}

class ConnectionTest : public testing::Test {
 protected:
  ConnectionTest()
      : context_(std::make_shared<ServerContext>(std::make_shared<PhoneLink>(),
                                                 std::make_shared<frames::DecodeQueue>(8, 64 << 20),
                                                 std::make_shared<jitter::JitterBuffer>(40.0),
                                                 section::FrameWriterTest::unmapped(), 1.0f)) {}

  struct Ends {
    platform::Socket reader;
    int phone = -1;
    AliveFlag alive;
  };

  // A connection as the accept loop makes it current.
  Ends connect(uint64_t id) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Ends ends{platform::Socket(fds[0]), fds[1], std::make_shared<std::atomic<bool>>(true)};
    auto send_socket = ends.reader.duplicate();
    EXPECT_TRUE(send_socket.ok());
    context_->link->install_current(std::move(send_socket.value()), ends.alive, id);
    phones_.push_back(fds[1]);
    return ends;
  }

  void send(int phone, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(phone, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // The frames the decode thread would get, with their keyframe flags.
  std::vector<bool> queued_keyframe_flags() {
    std::vector<bool> flags;
    while (context_->queue->len() > 0) {
      auto work = context_->queue->pop();
      if (auto* frame = std::get_if<frames::Frame>(&work)) {
        flags.push_back(frame->keyframe);
      }
    }
    return flags;
  }

  ~ConnectionTest() override {
    for (int fd : phones_) {
      ::close(fd);
    }
  }

  std::shared_ptr<ServerContext> context_;
  std::vector<int> phones_;
};

TEST_F(ConnectionTest, ATakenOverReaderHandlesNoneOfTheBatchItStillHolds) {
  Ends first = connect(1);
  // Everything the older phone sent is already in the reader's buffer when
  // the newer phone takes over.
  std::vector<uint8_t> batch = video(true, 100);
  for (const auto& m : {video(false, 100), audio(960), video(false, 100), audio(960)}) {
    batch.insert(batch.end(), m.begin(), m.end());
  }
  send(first.phone, batch);
  Ends second = connect(2);
  EXPECT_FALSE(first.alive->load());

  run_connection(context_, std::move(first.reader), first.alive, 1);
  EXPECT_EQ(context_->queue->len(), 0u);
  EXPECT_EQ(context_->jitter->buffered_ms(), 0.0);

  // The newer phone's own stream goes through.
  send(second.phone, video(true, 100));
  send(second.phone, message(MessageType::bye, 0, {}));
  run_connection(context_, std::move(second.reader), second.alive, 2);
  EXPECT_EQ(queued_keyframe_flags(), (std::vector<bool>{true}));
}

TEST_F(ConnectionTest, AnEmptyFrameFlaggedAsKeyframeDoesNotOpenTheGate) {
  Ends phone = connect(1);
  send(phone.phone, video(true, 0));
  send(phone.phone, video(false, 100));
  // Once a real keyframe has passed, an empty one passes too, as what it is:
  // nothing to start from.
  send(phone.phone, video(true, 100));
  send(phone.phone, video(true, 0));
  send(phone.phone, message(MessageType::bye, 0, {}));
  run_connection(context_, std::move(phone.reader), phone.alive, 1);

  EXPECT_EQ(context_->link->counters()->frames_received.load(), 4u);
  EXPECT_EQ(context_->link->counters()->frames_dropped.load(), 2u);
  EXPECT_EQ(queued_keyframe_flags(), (std::vector<bool>{true, false}));
}

TEST_F(ConnectionTest, AnAudioMessageOfTheLargestSizeKeepsAndDiscardsWhatOnePushWould) {
  Ends phone = connect(1);
  std::thread reader([&] { run_connection(context_, std::move(phone.reader), phone.alive, 1); });
  const size_t samples = (4 * 1024 * 1024 - 8) / 2;  // the largest payload allowed
  send(phone.phone, audio(samples));
  // The answer to a ping comes once everything before it has been handled.
  send(phone.phone, message(MessageType::ping, 0, std::vector<uint8_t>(8, 7)));
  uint8_t reply[20];
  ASSERT_EQ(::recv(phone.phone, reply, sizeof reply, MSG_WAITALL), 20);

  const jitter::JitterBuffer& buffer = *context_->jitter;
  EXPECT_EQ(context_->link->counters()->audio_packets.load(), 1u);
  EXPECT_EQ(buffer.buffered_ms(), 40.0);
  EXPECT_EQ(buffer.discarded(), samples - 1920);
  send(phone.phone, message(MessageType::bye, 0, {}));
  reader.join();
}

// Whether the phone gets an answer within `wait`.
bool answered(int phone, std::chrono::milliseconds wait) {
  pollfd readable{phone, POLLIN, 0};
  return ::poll(&readable, 1, static_cast<int>(wait.count())) == 1;
}

TEST_F(ConnectionTest, AfterALargeFrameTheReaderWaitsForTheDecoderOrATakeover) {
  using std::chrono::milliseconds;
  frames::DecodeQueue& queue = *context_->queue;
  Ends first = connect(1);
  std::thread reader([&] { run_connection(context_, std::move(first.reader), first.alive, 1); });
  send(first.phone, video(true, frames::kLargeFrame));
  send(first.phone, message(MessageType::ping, 0, std::vector<uint8_t>(8, 7)));
  while (queue.len() == 0) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  // The ping behind the frame waits while the frame is queued and while it decodes.
  EXPECT_FALSE(answered(first.phone, milliseconds(200)));
  (void)queue.pop();
  EXPECT_FALSE(answered(first.phone, milliseconds(200)));
  std::thread decode_thread([&] { (void)queue.pop(); });  // back for more
  EXPECT_TRUE(answered(first.phone, milliseconds(10'000)));
  queue.push(frames::Configure{});
  decode_thread.join();

  // A newer phone ends the wait of a reader it took over from.
  send(first.phone, video(false, frames::kLargeFrame));
  while (queue.len() == 0) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  Ends second = connect(2);
  reader.join();
  EXPECT_EQ(queue.len(), 1u);
}

TEST_F(ConnectionTest, HelloSizesOutsideSixteenToEightThousandAreNotGiven) {
  const std::pair<std::string_view, frames::Configure> cases[] = {
      {R"({"width":65535,"height":65535})", {0, 0}},
      {R"({"width":4294967295,"height":720})", {0, 720}},
      {R"({"width":1280,"height":8193})", {1280, 0}},
      {R"({"width":15,"height":16})", {0, 16}},
      {R"({"width":8192,"height":1081})", {8192, 1081}},
  };
  for (const auto& [json, expected] : cases) {
    Ends phone = connect(1);
    send(phone.phone, hello(json));
    send(phone.phone, message(MessageType::bye, 0, {}));
    run_connection(context_, std::move(phone.reader), phone.alive, 1);
    ASSERT_EQ(context_->queue->len(), 1u) << json;
    const auto configure = std::get<frames::Configure>(context_->queue->pop());
    EXPECT_EQ(configure.width, expected.width) << json;
    EXPECT_EQ(configure.height, expected.height) << json;
    EXPECT_EQ(context_->link->counters()->width.load(), expected.width) << json;
    EXPECT_EQ(context_->link->counters()->height.load(), expected.height) << json;
  }
}

}  // namespace
}  // namespace korvex::server
