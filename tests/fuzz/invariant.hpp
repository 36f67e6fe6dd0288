#pragma once

// What every harness does when an input breaks one of its invariants: says
// which, and aborts, so that libFuzzer keeps the input as a crash.

#include <cstdio>
#include <cstdlib>

#define CHECK(condition)                                          \
  do {                                                            \
    if (!(condition)) {                                           \
      std::fprintf(stderr, "invariant broken: %s\n", #condition); \
      std::abort();                                               \
    }                                                             \
  } while (0)
