#pragma once

// The status line's view of the receiver once a second: the live counters
// and the decode queue's figures read into one plain value.

#include "counters/counters.hpp"
#include "frames/decode_queue.hpp"

namespace korvex::main {

counters::CounterSnapshot take_snapshot(const counters::Counters& counters,
                                        const frames::DecodeQueue& queue);

}  // namespace korvex::main
