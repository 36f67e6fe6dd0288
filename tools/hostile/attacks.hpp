#pragma once

// The attacks of korvex-hostile-peer, each bounded in connections and time.
// Video payloads never hold an H.264 start code: an attacker's bytes must not
// decode into pictures, so that every picture in the section is the
// simulator's and its stamp must read.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::hostile {

struct AttackResult {
  uint64_t connections = 0;
  uint64_t bytes = 0;
  std::string failure;  // empty when the attack could be carried out
};

struct Attack {
  std::string_view name;
  std::string_view what;
  // `quick` scales counts and durations down to seconds for the test suite.
  std::function<AttackResult(uint16_t port, bool quick)> run;
};

const std::vector<Attack>& attacks();

}  // namespace korvex::hostile
