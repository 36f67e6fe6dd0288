#include "attacks.hpp"

#include <atomic>
#include <limits>
#include <optional>
#include <random>
#include <thread>

#include <fmt/format.h>

#include "peer.hpp"
#include "protocol/wire.hpp"

namespace korvex::hostile {
namespace {

using namespace std::chrono_literals;
using protocol::MessageType;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLargestPayload = 4 * 1024 * 1024;
constexpr auto kConnectTimeout = 5s;
constexpr uint8_t kFiller = 0xFF;  // never part of a start code 00 00 01

Bytes message(uint8_t type, uint8_t flags, const Bytes& payload) {
  return protocol::encode_message(type, flags, payload);
}

Bytes message(MessageType type, uint8_t flags, const Bytes& payload) {
  return message(static_cast<uint8_t>(type), flags, payload);
}

Bytes video(bool keyframe, size_t data_bytes, uint64_t pts) {
  Bytes payload(8 + data_bytes, kFiller);
  for (int i = 0; i < 8; ++i) {
    payload[static_cast<size_t>(i)] = static_cast<uint8_t>(pts >> (8 * i));
  }
  return message(MessageType::video, keyframe ? 0x01 : 0x00, payload);
}

Bytes hello_json(const std::string& json) {
  return message(MessageType::hello, 0, Bytes(json.begin(), json.end()));
}

Bytes hello(uint32_t width, uint32_t height) {
  return hello_json(fmt::format(
      R"({{"name":"Hostile","app":"korvex-hostile-peer","width":{},"height":{},"fps":30,"codec":"h264","audio":{{"rate":48000,"channels":1,"format":"s16le"}}}})",
      width, height));
}

// A hello and a few frames, as a short-lived phone would send them.
Bytes short_visit(uint32_t width, uint32_t height) {
  Bytes out = hello(width, height);
  for (const Bytes& m : {video(true, 2000, 1), video(false, 500, 33'333), video(false, 500, 66'666),
                         message(MessageType::audio, 0, Bytes(8 + 960, 0))}) {
    out.insert(out.end(), m.begin(), m.end());
  }
  return out;
}

Bytes bye() {
  return message(MessageType::bye, 0, {});
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::mt19937_64& rng() {
  static std::mt19937_64 generator(0x4B565831);
  return generator;
}

Bytes random_bytes(size_t n) {
  Bytes out(n);
  for (auto& b : out) {
    b = static_cast<uint8_t>(rng()());
  }
  return out;
}

std::optional<Peer> open(uint16_t port, AttackResult& result) {
  auto peer = Peer::connect(port, kConnectTimeout);
  if (peer) {
    ++result.connections;
  }
  return peer;
}

void send(Peer& peer, const Bytes& bytes, Clock::time_point deadline, AttackResult& result) {
  if (peer.send(bytes, deadline)) {
    result.bytes += bytes.size();
  }
}

// Connects and sends `bytes` within `time`, as most attacks begin each
// connection; the connection is the caller's to end as the attack needs.
std::optional<Peer> visit(uint16_t port, const Bytes& bytes, std::chrono::milliseconds time,
                          AttackResult& result) {
  auto peer = open(port, result);
  if (peer) {
    send(*peer, bytes, Clock::now() + time, result);
  }
  return peer;
}

// `count` connections, held open together.
std::vector<Peer> open_many(uint16_t port, int count, AttackResult& result) {
  std::vector<Peer> peers;
  for (int c = 0; c < count; ++c) {
    if (auto peer = open(port, result)) {
      peers.push_back(std::move(*peer));
    }
  }
  return peers;
}

// Sends what `next` makes, again and again, until `deadline` or until the
// receiver stops taking it. A peer that `reads` throws the replies away
// between sends; one that does not lets them back up.
void keep_sending(Peer& peer, Clock::time_point deadline, bool reads,
                  const std::function<Bytes()>& next, AttackResult& result) {
  while (Clock::now() < deadline) {
    const Bytes bytes = next();
    if (!peer.send(bytes, deadline)) {
      break;
    }
    result.bytes += bytes.size();
    if (reads) {
      peer.drain();
    }
  }
}

// Streams `chunk()` into one connection after another until `duration` ends.
AttackResult flood(uint16_t port, int connections, std::chrono::milliseconds duration,
                   const std::function<Bytes()>& chunk) {
  AttackResult result;
  for (int c = 0; c < connections; ++c) {
    if (auto peer = open(port, result)) {
      keep_sending(*peer, Clock::now() + duration, true, chunk, result);
    }
  }
  return result;
}

AttackResult random_flood(uint16_t port, bool quick) {
  return flood(port, quick ? 1 : 4, quick ? 1000ms : 3000ms, [] { return random_bytes(65536); });
}

// Bytes made of the magic and its prefixes, and headers of every kind whose
// lengths make the parser wait, skip or clear its buffer.
AttackResult magic_flood(uint16_t port, bool quick) {
  return flood(port, quick ? 1 : 4, quick ? 1000ms : 3000ms, [] {
    Bytes out;
    while (out.size() < 65536) {
      switch (rng()() % 4) {
        case 0:
          for (const char* piece : {"KVX1", "KVX", "KV", "K", "KVX1KVX1"}) {
            out.insert(out.end(), piece, piece + std::char_traits<char>::length(piece));
          }
          break;
        case 1: {  // a header of any type with a short random payload
          const Bytes m = message(static_cast<uint8_t>(rng()()), static_cast<uint8_t>(rng()()),
                                  random_bytes(rng()() % 64));
          out.insert(out.end(), m.begin(), m.end());
          break;
        }
        case 2: {  // a header promising more than will come soon
          Bytes m = message(MessageType::video, 1, {});
          const uint32_t length = static_cast<uint32_t>(rng()() % (kLargestPayload + 2));
          for (int i = 0; i < 4; ++i) {
            m[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
          }
          out.insert(out.end(), m.begin(), m.end());
          break;
        }
        default: {
          const Bytes r = random_bytes(rng()() % 32);
          out.insert(out.end(), r.begin(), r.end());
        }
      }
    }
    return out;
  });
}

// A video message whose data opens like an IDR picture's, so that a decoder
// takes it for H.264 and parses all of it.
Bytes h264_shaped(size_t data_bytes, uint64_t pts) {
  Bytes m = video(true, data_bytes, pts);
  const uint8_t opening[] = {0, 0, 0, 1, 0x65, 0x88};
  std::copy(std::begin(opening), std::end(opening), m.end() - static_cast<ptrdiff_t>(data_bytes));
  return m;
}

// Valid headers with the largest payload allowed, and one byte more.
AttackResult largest_payloads(uint16_t port, bool quick) {
  AttackResult result;
  const int rounds = quick ? 1 : 3;
  Bytes over_limit = message(MessageType::video, 1, {});
  const uint32_t length = kLargestPayload + 1;
  for (int i = 0; i < 4; ++i) {
    over_limit[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
  }
  std::string spaced_hello = "{" + std::string(kLargestPayload - 2, ' ') + "}";
  for (int r = 0; r < rounds; ++r) {
    auto peer = open(port, result);
    if (!peer) {
      continue;
    }
    const auto deadline = Clock::now() + 20s;
    send(*peer, hello(1280, 720), deadline, result);
    send(*peer, h264_shaped(kLargestPayload - 8, 1), deadline, result);
    send(*peer, video(false, kLargestPayload - 8, 2), deadline, result);
    send(*peer, over_limit + random_bytes(65536), deadline, result);
    send(*peer, message(MessageType::audio, 0, Bytes(kLargestPayload, 0x40)), deadline, result);
    send(*peer, message(MessageType::control, 0, Bytes(kLargestPayload, '{')), deadline, result);
    send(*peer, hello_json(spaced_hello), deadline, result);
    send(*peer, message(MessageType::ping, 0, Bytes(kLargestPayload, 1)), deadline, result);
    peer->drain();
  }
  return result;
}

// Messages cut off by the end of the connection, in the header or the payload.
AttackResult truncated(uint16_t port, bool quick) {
  AttackResult result;
  const int count = quick ? 20 : 100;
  for (int c = 0; c < count; ++c) {
    Bytes whole = hello(1280, 720) + video(true, 10'000 + rng()() % 100'000, 1);
    whole.resize(whole.size() - 1 - rng()() % (whole.size() - 1));
    visit(port, whole, 2s, result);
  }
  return result;
}

// Every message type, and types that do not exist, with payloads shorter than
// the kind needs, empty, and far longer than the kind uses.
AttackResult every_type(uint16_t port, bool quick) {
  AttackResult result;
  const std::vector<size_t> sizes = quick ? std::vector<size_t>{0, 1, 7, 8, 9, 65536}
                                          : std::vector<size_t>{0, 1, 7, 8, 9, 13, 4096, 1 << 20};
  for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 200, 255}) {
    auto peer = open(port, result);
    if (!peer) {
      continue;
    }
    const auto deadline = Clock::now() + 10s;
    for (size_t size : sizes) {
      for (uint8_t flags : {0x00, 0x01, 0x02, 0xFF}) {
        Bytes payload(size, kFiller);
        if (type == 2 && size >= 8) {
          // The pts at the top of its range, where turning it into another
          // unit overflows.
          std::fill_n(payload.begin(), 8, 0xFF);
        }
        if (type == 6) {
          continue;  // sent last: Bye ends the connection
        }
        send(*peer, message(static_cast<uint8_t>(type), flags, payload), deadline, result);
      }
    }
    // Frames without data flagged as keyframes, before any real keyframe.
    send(*peer, video(true, 0, std::numeric_limits<uint64_t>::max()), deadline, result);
    send(*peer, video(false, 100, std::numeric_limits<uint64_t>::max() - 1), deadline, result);
    send(*peer, message(MessageType::bye, 0, Bytes(type == 6 ? 100 : 0, 0)), deadline, result);
    peer->drain();
  }
  return result;
}

// One byte a second: each receive comes well inside the receive time-out.
AttackResult slow_senders(uint16_t port, bool quick) {
  AttackResult result;
  const int count = quick ? 2 : 3;
  const auto duration = quick ? 3s : 12s;
  std::vector<Peer> peers = open_many(port, count, result);
  const Bytes slow = short_visit(1280, 720);
  const auto end = Clock::now() + duration;
  for (size_t i = 0; Clock::now() < end && i < slow.size(); ++i) {
    for (Peer& peer : peers) {
      send(peer, Bytes{slow[i]}, Clock::now() + 100ms, result);
    }
    std::this_thread::sleep_for(1s);
  }
  return result;
}

// Connections that say nothing at all, some held past the receive time-out.
AttackResult silent(uint16_t port, bool quick) {
  AttackResult result;
  const std::vector<Peer> peers = open_many(port, quick ? 5 : 20, result);
  std::this_thread::sleep_for(quick ? 2s : 12s);
  return result;
}

// Connections ended with a reset: mid-message, and straight after connecting
// (before the receiver may have accepted them).
AttackResult resets(uint16_t port, bool quick) {
  AttackResult result;
  const int count = quick ? 20 : 200;
  Bytes part = short_visit(1280, 720);
  part.resize(part.size() / 2);
  for (int c = 0; c < count; ++c) {
    if (auto peer = visit(port, c % 2 == 0 ? part : Bytes{}, 1s, result)) {
      peer->reset();
    }
  }
  return result;
}

// Peers that disappear without FIN or reset, leaving half-open connections
// for the receiver to find out about.
AttackResult half_open(uint16_t port, bool quick) {
  AttackResult result;
  const int count = quick ? 10 : 50;
  const Bytes visit_bytes = short_visit(1280, 720);
  for (int c = 0; c < count; ++c) {
    auto peer = visit(port, visit_bytes, 1s, result);
    if (!peer) {
      continue;
    }
    if (!peer->vanish()) {
      result.failure = "TCP_REPAIR refused: half-open connections need CAP_NET_ADMIN";
      return result;
    }
  }
  // The last one stays half open until the receiver's ping or time-out.
  std::this_thread::sleep_for(quick ? 1s : 3s);
  return result;
}

// Peers that ask for answers and never read them, so that the receiver's
// replies back up behind a small receive window.
AttackResult no_reading(uint16_t port, bool quick) {
  AttackResult result;
  const int count = quick ? 1 : 3;
  const auto duration = quick ? 3s : 6s;
  for (int c = 0; c < count; ++c) {
    auto peer = open(port, result);
    if (!peer) {
      continue;
    }
    peer->shrink_receive_buffer();
    const auto deadline = Clock::now() + duration;
    send(*peer, hello(1280, 720) + video(false, 100, 1), deadline, result);
    Bytes round;
    for (int i = 0; i < 1000; ++i) {
      const Bytes ping = message(MessageType::ping, 0, random_bytes(8));
      round.insert(round.end(), ping.begin(), ping.end());
    }
    // Non-key frames make the receiver ask for keyframes too.
    const Bytes frame = video(false, 100, 2);
    round.insert(round.end(), frame.begin(), frame.end());
    keep_sending(
        *peer, deadline, false, [&round] { return round; }, result);
  }
  return result;
}

// Short visits one after the other, each taking over from the one before.
AttackResult churn_in_sequence(uint16_t port, bool quick) {
  AttackResult result;
  const int count = quick ? 100 : 1000;
  const Bytes bytes = short_visit(1280, 720) + bye();
  for (int c = 0; c < count; ++c) {
    visit(port, bytes, 2s, result);
  }
  return result;
}

// Many connections open at once, all sending their visits together.
AttackResult churn_at_once(uint16_t port, bool quick) {
  AttackResult result;
  const int rounds = quick ? 1 : 4;
  const int count = quick ? 10 : 50;
  const Bytes bytes = short_visit(1280, 720);
  for (int r = 0; r < rounds; ++r) {
    std::vector<Peer> peers = open_many(port, count, result);
    for (Peer& peer : peers) {
      send(peer, bytes, Clock::now() + 1s, result);
    }
    std::this_thread::sleep_for(200ms);
  }
  return result;
}

// Hellos announcing sizes no camera has.
AttackResult absurd_sizes(uint16_t port, bool quick) {
  AttackResult result;
  const std::pair<uint32_t, uint32_t> sizes[] = {
      {0, 0},      {65535, 65535}, {4294967295u, 4294967295u}, {1, 1}, {15, 8193}, {1281, 721},
      {1279, 719}, {8192, 8192},   {3, 4294967295u},
  };
  const int rounds = quick ? 1 : 10;
  for (int r = 0; r < rounds; ++r) {
    for (const auto& [width, height] : sizes) {
      visit(port, short_visit(width, height) + bye(), 2s, result);
    }
    // The array form, sizes as the third and fourth elements.
    visit(port, hello_json(R"(["Array","x",65535,65535,30])") + bye(), 2s, result);
  }
  return result;
}

// A new connection every 100 ms, each streaming until the next takes over.
AttackResult takeover_storm(uint16_t port, bool quick) {
  AttackResult result;
  const auto end = Clock::now() + (quick ? 3s : 30s);
  std::optional<Peer> current;
  uint64_t pts = 0;
  while (Clock::now() < end) {
    const auto next = Clock::now() + 100ms;
    current = open(port, result);  // the one before closes here
    if (!current) {
      continue;
    }
    send(*current, hello(1280, 720) + video(true, 3000, pts), next, result);
    while (Clock::now() < next) {
      pts += 33'333;
      send(*current, video(false, 800, pts), next, result);
      current->drain();
      std::this_thread::sleep_for(10ms);
    }
  }
  return result;
}

}  // namespace

const std::vector<Attack>& attacks() {
  static const std::vector<Attack> all = {
      {"random-flood", "random bytes at full speed", random_flood},
      {"magic-flood", "bytes that look like the magic and headers", magic_flood},
      {"largest-payloads", "4 MiB payloads of every kind, and 4 MiB + 1", largest_payloads},
      {"truncated", "messages cut off by the end of the connection", truncated},
      {"every-type", "every type with short, empty and oversized payloads", every_type},
      {"slow-senders", "one byte a second", slow_senders},
      {"silent", "connect and never send", silent},
      {"resets", "vanish with a reset", resets},
      {"half-open", "vanish without FIN or reset", half_open},
      {"no-reading", "never read, so the receiver's sends back up", no_reading},
      {"churn-sequence", "short visits one after the other", churn_in_sequence},
      {"churn-at-once", "short visits all at once", churn_at_once},
      {"absurd-sizes", "hellos announcing absurd sizes", absurd_sizes},
      {"takeover-storm", "a new connection every 100 ms", takeover_storm},
  };
  return all;
}

}  // namespace korvex::hostile
