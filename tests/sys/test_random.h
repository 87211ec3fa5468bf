// A seeded random source (SplitMix64) for repeatable statistics.
#pragma once

#include <cstdint>

#include "platform/sys/random.h"

namespace qtest {

struct SeededRandom final : plat::sys::RandomSource {
  explicit SeededRandom(std::uint64_t seed) : state(seed) {}
  std::uint64_t next64() override {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t state;
};

}  // namespace qtest
