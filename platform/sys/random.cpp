#include "platform/sys/random.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <sys/random.h>

namespace plat::sys {

namespace {
__extension__ typedef unsigned __int128 u128;
}  // namespace

std::uint64_t SystemRandom::next64() {
  std::uint64_t word = 0;
  auto* p = reinterpret_cast<unsigned char*>(&word);
  std::size_t got = 0;
  while (got < sizeof word) {
    ssize_t n = ::getrandom(p + got, sizeof word - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  if (got == sizeof word) return word;
  // getrandom is missing (very old kernel or a seccomp filter): read the
  // urandom device instead. Failing that there is no randomness to be had.
  if (std::FILE* f = std::fopen("/dev/urandom", "rb")) {
    std::size_t n = std::fread(&word, 1, sizeof word, f);
    std::fclose(f);
    if (n == sizeof word) return word;
  }
  std::abort();
}

RandomSource& systemRandom() {
  static SystemRandom source;
  return source;
}

std::uint64_t uniformBelow(RandomSource& rng, std::uint64_t k) {
  if (k == 0) return 0;
  u128 m = static_cast<u128>(rng.next64()) * k;
  auto low = static_cast<std::uint64_t>(m);
  if (low < k) {
    // (2^64 - k) mod k, computed in 64 bits as (-k) mod k.
    const std::uint64_t threshold = (0 - k) % k;
    while (low < threshold) {
      m = static_cast<u128>(rng.next64()) * k;
      low = static_cast<std::uint64_t>(m);
    }
  }
  return static_cast<std::uint64_t>(m >> 64);
}

std::vector<std::int64_t> freshPlayOrder(std::int64_t n, RandomSource& rng) {
  std::vector<std::int64_t> order(n > 0 ? static_cast<std::size_t>(n) : 0);
  std::iota(order.begin(), order.end(), std::int64_t{0});
  for (std::int64_t i = 0; i + 1 < n; ++i) {
    auto r = static_cast<std::int64_t>(uniformBelow(rng, static_cast<std::uint64_t>(n - i)));
    std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(i + r)]);
  }
  return order;
}

}  // namespace plat::sys
