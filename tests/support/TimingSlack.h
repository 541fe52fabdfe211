#pragma once
// Instrumented builds run several times slower: timing and CPU bounds are widened by this.
#ifdef KALVORA_SANITIZED
constexpr int kTimingSlack = 4;
#else
constexpr int kTimingSlack = 1;
#endif
