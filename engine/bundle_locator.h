// Where the engine looks for the saver bundle: --bundle, else
// $QUELLTRINE_BUNDLE, else the installed bundle relative to the executable
// (../lib/quelltrine/Quelltrine.saver), else, when the engine runs from the
// build tree, the bundle laid out in the build tree. An installed bundle
// comes first so that an engine installed into a folder inside a build tree
// still runs its own bundle. A path given by the user is used alone: a wrong
// one is reported, not silently replaced. Links to the engine (xscreensaver's
// hack link) are followed by the caller, through /proc/self/exe.
#pragma once

#include <string>

#include "platform/error.h"

namespace quelltrine::engine {

// The installed bundle relative to the installed engine's folder, as the
// build's install layout puts it.
extern const char* const kInstalledBundle;

struct BundleSearch {
  std::string option;          // --bundle
  std::string environment;     // $QUELLTRINE_BUNDLE
  std::string executableDir;   // the folder of the running engine
  std::string buildTreeDir;    // the build tree's top folder
  std::string buildTreeBundle; // the bundle in the build tree
  std::string installedRelative = kInstalledBundle;
};

// The path to use, or an Error of kind Bundle with a one-line message.
plat::ErrorOr<std::string> locateBundle(const BundleSearch& search);

// The folder of /proc/self/exe (empty when unknown).
std::string executableDirectory();

}  // namespace quelltrine::engine
