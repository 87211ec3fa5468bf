// Random sources for tests: seeded (SplitMix64) for repeatable statistics; scripted, failing the test when it runs dry.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

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

struct ScriptedRandom final : plat::sys::RandomSource {
  explicit ScriptedRandom(std::vector<std::uint64_t> w) : words(std::move(w)) {}
  std::uint64_t next64() override {
    if (n < words.size()) return words[n++];
    ADD_FAILURE() << "scripted random source ran dry after " << n << " words";
    return 0;
  }
  std::vector<std::uint64_t> words;
  std::size_t n = 0;
};

}  // namespace qtest
