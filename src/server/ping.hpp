#pragma once

// Round-trip time to the phone. Every connection's ping thread sends the
// ping clock's reading every 2 seconds; the phone echoes it with the reply
// flag set, and the difference is the round-trip time.

#include <cstdint>
#include <memory>
#include <optional>

#include "protocol/wire.hpp"
#include "server/phone_link.hpp"

namespace korvex::server {

// The body of the "ping-{id}" thread: from 2 seconds after the connection
// was accepted, a ping every 2 seconds while the connection is the current
// one; ends as soon as it is not.
void ping_loop(std::shared_ptr<PhoneLink> link, uint64_t id);

// Answers the phone's own pings; turns replies to ours into the counters'
// round-trip time.
void handle_ping(const protocol::msg::Ping& ping, PhoneLink& link, uint64_t id);

// The round-trip time an echoed `value` read at `now` stands for, or nothing
// for a value from the future or 60 seconds or more old (corrupted, or not
// one of ours).
std::optional<uint64_t> round_trip_us(uint64_t now, uint64_t value);

}  // namespace korvex::server
