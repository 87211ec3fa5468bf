// `quelltrine-saver defaults ...`: reads and writes the module's preferences
// store from the command line, like a platform's own defaults tool. Only the
// module's two keys are accepted, each with its stored type, so the command
// cannot write a value the saver would misread. The caller splits the
// command line and owns the streams.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quelltrine {

// args are the words after "defaults":
//   read                      every key with its value, one "key = value" line each
//   read KEY                  the value alone; exit 1 with a message when absent
//   write interval NUMBER     a finite decimal number (seconds); 2 or less is
//                             stored too, with a note on err that the saver
//                             then uses 14
//   write imageFolder PATH    any text, stored as given
//   delete KEY
// Writes are flushed at once. A read of a damaged file names it on err (one
// line, with what is wrong) and shows what could be read. Exit status: 0
// done, 1 the store failed, the key is absent or the output could not be
// written, 2 bad usage (one line on err).
int runDefaultsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quelltrine
