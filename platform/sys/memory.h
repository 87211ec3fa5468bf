// How much memory the system can still give: the kernel's own estimate of
// what can be allocated without swapping (MemAvailable of /proc/meminfo),
// read afresh at each call. The picture upload checks a texture against it
// before decoding. Nothing here allocates large memory or caches a figure.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace plat::sys {

// MemAvailable in bytes; none when /proc/meminfo cannot be read or has no
// such line (a kernel before 3.14, a sandbox without /proc).
std::optional<std::uint64_t> memoryAvailable();

// The MemAvailable figure of a /proc/meminfo text ("MemAvailable:  123 kB"),
// in bytes; none when the line is missing or not a number of kB.
std::optional<std::uint64_t> parseMemoryAvailable(std::string_view meminfo);

namespace testing {
// From now on memoryAvailable() answers `bytes` (none: reads the system's
// figure again).
void pretendMemoryAvailable(std::optional<std::uint64_t> bytes);
}  // namespace testing

}  // namespace plat::sys
