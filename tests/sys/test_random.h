// Random sources for tests: a seeded one (SplitMix64) for repeatable
// statistics, and a scripted one that hands out fixed words and counts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/random.h"

namespace qtest {

class SeededRandom final : public plat::sys::RandomSource {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next64() override {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

class ScriptedRandom final : public plat::sys::RandomSource {
 public:
  explicit ScriptedRandom(std::vector<std::uint64_t> words) : words_(std::move(words)) {}
  std::uint64_t next64() override {
    if (taken_ < words_.size()) return words_[taken_++];
    ADD_FAILURE() << "scripted random source ran dry after " << taken_ << " words";
    return 0;
  }
  std::size_t taken() const { return taken_; }

 private:
  std::vector<std::uint64_t> words_;
  std::size_t taken_ = 0;
};

}  // namespace qtest
