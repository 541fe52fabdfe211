#pragma once
#include <chrono>

// Instrumented builds run several times slower: CPU-time bounds are widened by this.
#ifdef KALVORA_SANITIZED
constexpr int kTimingSlack = 4;
#else
constexpr int kTimingSlack = 1;
#endif

// How long a test waits for something that takes milliseconds before it calls it lost: far
// beyond any stall of a busy machine, and still well within the test program's time-out. Waiting
// is cut short as soon as the event comes, so this costs nothing when all is well.
constexpr std::chrono::milliseconds kEventTimeout{10000};
constexpr int kEventTimeoutMs = 10000;
