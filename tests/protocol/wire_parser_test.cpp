#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

#include "message_equality.hpp"
#include "protocol/wire_parser.hpp"

namespace korvex::protocol {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Bytes le64(uint64_t v) {
  Bytes out(8);
  for (int i = 0; i < 8; ++i) {
    out[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes message(MessageType type, uint8_t flags, const Bytes& payload) {
  return encode_message(static_cast<uint8_t>(type), flags, payload);
}

Bytes ping(uint64_t value, uint8_t flags = 0) {
  return message(MessageType::ping, flags, le64(value));
}

// A payload of `n` bytes counting up from 1, so misplaced bytes show.
Bytes counting(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<uint8_t>(i + 1);
  }
  return out;
}

Payload payload(const Bytes& bytes) {
  return Payload::copy_of(bytes);
}

Payload s16(std::initializer_list<int16_t> samples) {
  Bytes out;
  for (const int16_t s : samples) {
    out.push_back(static_cast<uint8_t>(s));
    out.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  }
  return payload(out);
}

template <class T>
T only(const std::vector<Message>& messages) {
  EXPECT_EQ(messages.size(), 1u);
  return std::get<T>(messages.at(0));
}

// Each receive's room, where in the stream it begins, and how much of it the
// stream fills.
using SeeReceive = std::function<void(std::span<uint8_t> space, size_t at, size_t n)>;

// Receives `stream` as the connection does, into the parser's own buffer at
// most `chunk` bytes at a time. The messages are moved out, so each payload
// stays in the block it was received into.
std::vector<Message> receive(Parser& parser, const Bytes& stream, size_t chunk,
                             const SeeReceive& see = {}) {
  std::vector<Message> out;
  for (size_t at = 0; at < stream.size();) {
    const std::span<uint8_t> space = parser.receive_space(chunk);
    const size_t n = std::min({chunk, space.size(), stream.size() - at});
    if (see) {
      see(space, at, n);
    }
    if (n == 0) {
      ADD_FAILURE() << "no room to receive into at " << at;
      break;
    }
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), n, space.begin());
    at += n;
    auto got = parser.commit(n);
    out.insert(out.end(), std::make_move_iterator(got.begin()), std::make_move_iterator(got.end()));
  }
  return out;
}

TEST(Encode, KeyframeRequestIsExactlyThirtyBytes) {
  const Bytes expected =
      Bytes{'K', 'V', 'X', '1', 3, 0, 0, 0, 18, 0, 0, 0} + text(R"({"cmd":"keyframe"})");
  EXPECT_EQ(message(MessageType::control, 0, text(R"({"cmd":"keyframe"})")), expected);
  EXPECT_EQ(expected.size(), 30u);
  EXPECT_EQ(message(MessageType::bye, 0, {}), (Bytes{'K', 'V', 'X', '1', 6, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Parser, DecodesEveryKindInStreamOrderFromOneFeed) {
  const Bytes pcm = {0x01, 0x00, 0xff, 0xff, 0x00, 0x80, 0xff, 0x7f};  // 1, -1, min, max
  const Bytes stream =
      message(MessageType::hello, 0, text(R"({"name":"phone"})")) +
      message(MessageType::video, kFlagKeyframe, le64(0x0102030405060708) + counting(300)) +
      message(MessageType::video, 0, le64(42) + Bytes{9}) +
      message(MessageType::control, 0, text("{}")) + message(MessageType::audio, 0, le64(7) + pcm) +
      message(MessageType::audio, kFlagSilent, le64(7) + Bytes{0, 0}) + ping(0xfedcba9876543210) +
      ping(5, kFlagReply) + message(MessageType::bye, 0, {});
  Parser parser;
  const std::vector<Message> expected = {
      msg::Hello{payload(text(R"({"name":"phone"})"))},
      msg::Video{0x0102030405060708, payload(counting(300)), true},
      msg::Video{42, payload({9}), false},
      msg::Control{payload(text("{}"))},
      msg::Audio{s16({1, -1, -32768, 32767}), false},
      msg::Audio{s16({0}), true},
      msg::Ping{0xfedcba9876543210, false},
      msg::Ping{5, true},
      msg::Bye{},
  };
  EXPECT_EQ(parser.feed(stream), expected);
  EXPECT_TRUE(parser.feed({}).empty());
}

TEST(Parser, IgnoresReservedBytesAndUnlistedFlagBits) {
  Bytes video = message(MessageType::video, 0xfe, le64(1));
  video[6] = 0xaa;
  video[7] = 0x55;
  Bytes audio = message(MessageType::audio, 0xfd, le64(1) + Bytes{2, 0});
  audio[7] = 1;
  Parser parser;
  const auto out = parser.feed(video + audio + ping(3, 0xfe));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(std::get<msg::Video>(out[0]), (msg::Video{1, {}, false}));
  EXPECT_EQ(std::get<msg::Audio>(out[1]), (msg::Audio{s16({2}), false}));
  EXPECT_EQ(std::get<msg::Ping>(out[2]), (msg::Ping{3, false}));
}

TEST(Parser, SkipsGarbageBeforeAndBetweenMessages) {
  // Near-misses of the magic, including one that overlaps the real header.
  const Bytes garbage = text("xKVX0KKVKVXKV") + Bytes{0, 0xff};
  Parser parser;
  const auto out = parser.feed(garbage + ping(1) + garbage + text("KKVX") + ping(2) + garbage);
  EXPECT_EQ(out, (std::vector<Message>{msg::Ping{1, false}, msg::Ping{2, false}}));

  // The garbage left over did not swallow the next message.
  EXPECT_EQ(only<msg::Ping>(parser.feed(ping(3))).value, 3u);
}

TEST(Parser, MagicInsideAPayloadIsData) {
  const Bytes inner = ping(9);
  Parser parser;
  const auto out = parser.feed(message(MessageType::control, 0, inner) +
                               message(static_cast<MessageType>(7), 0, inner) + ping(1));
  EXPECT_EQ(out, (std::vector<Message>{msg::Control{payload(inner)}, msg::Ping{1, false}}));
}

TEST(Parser, ReassemblesHeadersAndPayloadsSplitOverManyFeeds) {
  const Bytes video = message(MessageType::video, kFlagKeyframe, le64(77) + counting(5000));
  Parser parser;
  // Header split in two, then the payload a few bytes at a time.
  EXPECT_TRUE(parser.feed(std::span(video).first(5)).empty());
  size_t at = 5;
  for (size_t step = 1; at + step < video.size(); at += step, step = step % 97 + 1) {
    ASSERT_TRUE(parser.feed(std::span(video).subspan(at, step)).empty()) << "at " << at;
  }
  const auto frame = only<msg::Video>(parser.feed(std::span(video).subspan(at)));
  EXPECT_EQ(frame, (msg::Video{77, payload(counting(5000)), true}));
}

TEST(Parser, AnySplitPointGivesTheSameMessages) {
  const Bytes stream = text("junk") + message(MessageType::hello, 0, text("{}")) + text("KV") +
                       message(MessageType::audio, 0, le64(1) + Bytes{1, 2, 3}) + ping(8) +
                       message(MessageType::bye, 0, {});
  const auto whole = Parser().feed(stream);
  ASSERT_EQ(whole.size(), 4u);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    Parser parser;
    auto out = parser.feed(std::span(stream).first(cut));
    auto rest = parser.feed(std::span(stream).subspan(cut));
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, whole) << "cut at " << cut;
  }
}

// The connection receives into the parser's own buffer in chunks that cut
// messages anywhere, while large and small messages alternate and leftovers
// move down or the buffer grows.
TEST(Parser, ReceivingIntoItsBufferGivesWhatFeedingGives) {
  Bytes stream;
  for (uint64_t i = 0; i < 40; ++i) {
    stream =
        stream + message(MessageType::video, 0, le64(i) + counting(i % 3 ? 50 : 300000)) + ping(i);
  }
  const auto whole = Parser().feed(stream);
  ASSERT_EQ(whole.size(), 80u);
  for (const size_t chunk : {size_t{1000}, size_t{65536}, size_t{262144}}) {
    Parser parser;
    EXPECT_EQ(receive(parser, stream, chunk), whole) << "chunks of " << chunk;
  }
}

// A message larger than a receive keeps the buffer it arrived in: its payload
// is not copied out (only what arrived before the buffer grew to it moved),
// it has zeroed padding after it, and what came in the same receive before or
// behind it parses as ever.
TEST(Parser, ALargePayloadStaysWhereItWasReceived) {
  const Bytes stream = ping(1) +
                       message(MessageType::video, kFlagKeyframe, le64(5) + counting(100000)) +
                       ping(2) + message(MessageType::hello, 0, counting(70000)) +
                       message(MessageType::control, 0, counting(65537)) + ping(3);
  const auto whole = Parser().feed(stream);
  ASSERT_EQ(whole.size(), 6u);
  for (const size_t chunk : {size_t{4096}, size_t{65536}, size_t{65536 + 333}}) {
    struct Receive {
      const uint8_t* where;
      size_t size;
      size_t stream_offset;
    };
    std::vector<Receive> receives;
    Parser parser;
    const auto out =
        receive(parser, stream, chunk, [&](std::span<uint8_t> space, size_t at, size_t n) {
          receives.push_back({space.data(), n, at});
        });
    ASSERT_EQ(out, whole) << "chunks of " << chunk;
    // Where each payload begins in the stream.
    const size_t video_at = kHeaderSize + 8 + kHeaderSize + 8;
    const size_t hello_at = video_at + 100000 + kHeaderSize + 8 + kHeaderSize;
    const size_t control_at = hello_at + 70000 + kHeaderSize;
    const std::pair<const Payload*, size_t> large[] = {
        {&std::get<msg::Video>(out[1]).data, video_at},
        {&std::get<msg::Hello>(out[3]).json, hello_at},
        {&std::get<msg::Control>(out[4]).payload, control_at}};
    for (const auto& [payload, offset] : large) {
      // The payload's last byte, received after the buffer grew to the message.
      const uint8_t* p = payload->data();
      const uint8_t* last = p + payload->size() - 1;
      const auto r = std::find_if(receives.begin(), receives.end(), [last](const Receive& r) {
        return last >= r.where && last < r.where + r.size;
      });
      if (payload->size() > chunk) {
        ASSERT_NE(r, receives.end()) << "a copy, chunks of " << chunk;
        EXPECT_EQ(r->stream_offset + static_cast<size_t>(last - r->where),
                  offset + payload->size() - 1);
      }
      EXPECT_TRUE(std::all_of(p + payload->size(), p + payload->size() + kPayloadPadding,
                              [](uint8_t b) { return b == 0; }));
    }
  }
}

// A largest message received in 256 KiB pieces: the buffer holds that message
// and no more, and is back to one receive's size once it is done.
TEST(Parser, GrowsToTheMessageBeingReceivedAndGivesTheRoomBackAfterIt) {
  constexpr size_t kChunk = 256 * 1024;
  const size_t whole = kHeaderSize + kMaxPayload;
  const Bytes stream = message(MessageType::audio, 0, Bytes(kMaxPayload, 0x11)) + ping(7) +
                       message(MessageType::video, 0, le64(1) + Bytes(kChunk, 0x22));
  Parser parser;
  const auto out =
      receive(parser, stream, kChunk, [&](std::span<uint8_t> space, size_t at, size_t) {
        if (at < whole) {
          EXPECT_LE(at + space.size(), whole) << "at " << at;
        } else {
          // A header and a receive: what a stream of ordinary messages needs.
          EXPECT_LE(space.size(), kHeaderSize + kChunk + 8) << "at " << at;
        }
      });
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(std::get<msg::Audio>(out[0]).pcm.size(), kMaxPayload - 8);
  EXPECT_EQ(std::get<msg::Ping>(out[1]).value, 7u);
  EXPECT_EQ(std::get<msg::Video>(out[2]).data, payload(Bytes(kChunk, 0x22)));
}

TEST(Parser, AcceptsTheLargestPayloadAndClearsEverythingOnALargerOne) {
  Parser parser;
  const auto frame = only<msg::Video>(
      parser.feed(message(MessageType::video, 0, le64(5) + Bytes(kMaxPayload - 8, 0xab))));
  EXPECT_EQ(frame.pts, 5u);
  EXPECT_EQ(frame.data.size(), kMaxPayload - 8);

  // One byte more: the messages before it come out, everything after it is gone.
  Bytes oversize = ping(0);
  oversize[8] = 0x01;
  oversize[10] = 0x40;  // length 0x400001
  EXPECT_EQ(
      parser.feed(ping(1) + text("KVX") + oversize + ping(2) + message(MessageType::bye, 0, {})),
      (std::vector<Message>{msg::Ping{1, false}}));

  // The same with the header split over two feeds; then parsing carries on.
  const std::span<const uint8_t> split(oversize);
  EXPECT_EQ(only<msg::Ping>(parser.feed(ping(3) + Bytes(split.begin(), split.begin() + 6))).value,
            3u);
  EXPECT_TRUE(parser.feed(Bytes(split.begin() + 6, split.end()) + ping(4)).empty());
  EXPECT_EQ(only<msg::Ping>(parser.feed(ping(5))).value, 5u);
}

TEST(Parser, DropsPayloadsTooShortForTheirKind) {
  Parser parser;
  const auto out =
      parser.feed(message(MessageType::video, kFlagKeyframe, le64(11)) +            // empty frame
                  message(MessageType::video, 0, Bytes(7, 1)) +                     // dropped
                  message(MessageType::audio, 0, le64(0)) +                         // no samples
                  message(MessageType::audio, 0, le64(0) + Bytes{4}) +              // odd byte only
                  message(MessageType::audio, 0, le64(0) + Bytes{1, 0, 2, 0, 3}) +  // 2 samples
                  message(MessageType::audio, 0, Bytes(7, 1)) +                     // dropped
                  message(MessageType::ping, 0, le64(12) + le64(99)) +              // tail ignored
                  message(MessageType::ping, 0, Bytes(7, 1)) +                      // dropped
                  message(MessageType::hello, 0, {}) + message(MessageType::control, 0, {}) +
                  message(MessageType::bye, 0, text("ignored")));
  const std::vector<Message> expected = {
      msg::Video{11, {}, true}, msg::Audio{{}, false},
      msg::Audio{{}, false},    msg::Audio{s16({1, 2}), false},
      msg::Ping{12, false},     msg::Hello{},
      msg::Control{},           msg::Bye{},
  };
  EXPECT_EQ(out, expected);
}

TEST(Parser, SkipsUnknownTypes) {
  Parser parser;
  const auto out = parser.feed(message(static_cast<MessageType>(0), 0, le64(1)) + ping(1) +
                               message(static_cast<MessageType>(7), 0, {}) +
                               message(static_cast<MessageType>(255), 0, counting(20)) + ping(2));
  EXPECT_EQ(out, (std::vector<Message>{msg::Ping{1, false}, msg::Ping{2, false}}));
}

}  // namespace
}  // namespace korvex::protocol
