// The module's preferences as the outside sees them: the store's module
// name, the two keys and the rule by which a stored interval counts. Only
// constants, so that the engine's `defaults` command can name the keys
// without linking any module code. Reading and writing the values is
// settings.h's business.
#pragma once

namespace quelltrine::settings {

inline constexpr const char* kModuleName = "com.quelltrine.saver";
inline constexpr const char* kImageFolderKey = "imageFolder";
inline constexpr const char* kIntervalKey = "interval";
inline constexpr double kDefaultInterval = 14.0;
// A stored interval must be greater than this to be used.
inline constexpr double kMinimumUsableInterval = 2.0;
// Relative to the home folder.
inline constexpr const char* kDefaultImageFolder = "Pictures/Quelltrine Screensaver";

}  // namespace quelltrine::settings
