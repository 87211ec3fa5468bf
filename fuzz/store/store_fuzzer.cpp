// libFuzzer target over the preferences file format: any bytes parse
// without a crash; what was understood has only storable keys; a damaged
// file is named in one line; and what was understood, written again,
// parses back to the same values with nothing damaged.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/store/key_file_format.h"

namespace {

using namespace plat::store;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "store_fuzzer: %s\n", what);
  std::abort();
}

bool same(const Value& a, const Value& b) {
  if (a.index() != b.index()) return false;
  if (const auto* s = std::get_if<std::string>(&a)) return *s == std::get<std::string>(b);
  const double x = std::get<double>(a), y = std::get<double>(b);
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);  // the payload is not kept
  return std::memcmp(&x, &y, sizeof x) == 0;  // -0 stays -0
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const format::Parsed parsed = format::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& [key, value] : parsed.values) check(format::isStorableKey(key), "a key that cannot be stored");
  check(parsed.damaged == !parsed.damage.empty(), "damage without a reason, or a reason without damage");
  check(parsed.damage.find('\n') == std::string::npos, "a reason of more than one line");

  const format::Parsed again = format::parse(format::serialise(parsed.values, "com.example.fuzz"));
  check(!again.damaged, "a written file reads as damaged");
  check(again.values.size() == parsed.values.size(), "a value lost or gained in writing");
  for (const auto& [key, value] : parsed.values) {
    const auto it = again.values.find(key);
    check(it != again.values.end() && same(it->second, value), "a value changed in writing");
  }
  return 0;
}
