// The module's two preferences, "imageFolder" (string) and "interval"
// (double, seconds per picture), read and written through the per-module
// store. Nothing is cached: every call opens the store afresh, and every
// reader applies the fallbacks itself, so a value flushed by another view or
// process counts from the next read. Where the folder is scanned and when the
// interval is used is the caller's business.
#pragma once

#include <string>

#include "host/preference_keys.h"

namespace quelltrine::settings {

// The stored interval when it is a finite number greater than 2.0, else 14.0
// (also when the key is missing or the store cannot be opened). An extremely
// common operation: the frame loop calls it twice per frame.
double effectiveInterval();

// The stored non-empty "imageFolder" with a leading tilde expanded, else the
// home folder + "/Pictures/Quelltrine Screensaver". Never created or checked.
std::string imageFolderPath();

// Each stores one value and flushes it at once: open, set; open again,
// synchronize. A store that cannot be opened skips the step quietly.
void storeImageFolder(const std::string& absolutePath);
void storeInterval(double seconds);

}  // namespace quelltrine::settings
