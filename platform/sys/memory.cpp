// MemAvailable from /proc/meminfo (memory.h).
#include "platform/sys/memory.h"

#include <atomic>
#include <charconv>

#include "platform/sys/files.h"

namespace plat::sys {
namespace {

// UINT64_MAX: no pretence.
std::atomic<std::uint64_t> pretended{UINT64_MAX};

}  // namespace

std::optional<std::uint64_t> parseMemoryAvailable(std::string_view meminfo) {
  constexpr std::string_view kKey = "MemAvailable:";
  std::size_t at = 0;
  while (at < meminfo.size()) {
    std::size_t end = meminfo.find('\n', at);
    if (end == std::string_view::npos) end = meminfo.size();
    std::string_view line = meminfo.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(kKey)) continue;
    line.remove_prefix(kKey.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    std::uint64_t kilobytes = 0;
    const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), kilobytes);
    if (error != std::errc() || rest == line.data()) return std::nullopt;
    std::string_view unit(rest, static_cast<std::size_t>(line.data() + line.size() - rest));
    while (!unit.empty() && (unit.front() == ' ' || unit.front() == '\t')) unit.remove_prefix(1);
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\r')) unit.remove_suffix(1);
    if (unit != "kB" || kilobytes > UINT64_MAX / 1024) return std::nullopt;
    return kilobytes * 1024;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> memoryAvailable() {
  if (const std::uint64_t value = pretended.load(); value != UINT64_MAX) return value;
  // A few kB; its size shows as 0, which the bounded read reads past.
  const auto meminfo = readRegularFile("/proc/meminfo", 64 * 1024, ErrorKind::Picture, "memory");
  if (!meminfo) return std::nullopt;
  return parseMemoryAvailable(
      std::string_view(reinterpret_cast<const char*>(meminfo->data.get()), meminfo->size));
}

void testing::pretendMemoryAvailable(std::optional<std::uint64_t> bytes) {
  pretended = bytes.value_or(UINT64_MAX);
}

}  // namespace plat::sys
