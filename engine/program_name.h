// The name the program was started by, for the start of every message it
// prints: "quelltrine" when xscreensaver runs it through the hack link,
// "quelltrine-saver" when run by its own name. Set once from argv[0].
#pragma once

#include <string>

namespace quelltrine::engine {

// The last path component of argv0; "quelltrine-saver" when argv0 is null
// or empty.
void setProgramName(const char* argv0);
const std::string& programName();

}  // namespace quelltrine::engine
