#include "engine/program_name.h"

#include <cstring>

namespace quelltrine::engine {
namespace {

std::string& storedName() {
  static std::string name = "quelltrine-saver";
  return name;
}

}  // namespace

void setProgramName(const char* argv0) {
  if (argv0 == nullptr || *argv0 == '\0') return;
  const char* slash = std::strrchr(argv0, '/');
  const char* base = slash ? slash + 1 : argv0;
  if (*base != '\0') storedName() = base;
}

const std::string& programName() { return storedName(); }

}  // namespace quelltrine::engine
