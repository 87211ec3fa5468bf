// The operating system's random source, and the one unbiased bounded draw and
// shuffle built on it. The source holds no state and is never seeded; tests
// substitute a scripted RandomSource to make draws predictable.
#pragma once

#include <cstdint>
#include <vector>

namespace plat::sys {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // A uniformly distributed 64-bit word.
  virtual std::uint64_t next64() = 0;
};

// getrandom(2). Retries on EINTR; if the kernel call itself is unavailable it
// falls back to /dev/urandom. Never blocks after the pool is initialised.
class SystemRandom final : public RandomSource {
 public:
  std::uint64_t next64() override;
};

// The process-wide system source (stateless, safe from any thread).
RandomSource& systemRandom();

// A uniform integer in [0, k) without bias: Lemire's multiply-and-reject.
// Forms the 128-bit product of a word and k; while its low half is below
// (2^64 - k) mod k, draws a new word; returns the high half. k = 0 yields 0.
std::uint64_t uniformBelow(RandomSource& rng, std::uint64_t k);

// The forward Fisher-Yates play order over 0 ... n-1: for i = 0 ... n-2,
// exchange positions i and i + uniformBelow(n - i). n <= 1 needs no draw.
std::vector<std::int64_t> freshPlayOrder(std::int64_t n, RandomSource& rng);

}  // namespace plat::sys
