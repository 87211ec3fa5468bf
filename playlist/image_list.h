// The image list: one scan of the picture folder, kept to the entries whose
// extension names one of six picture types, sorted by path as Unicode text,
// with a fresh random play order dealt over them. Entries are neither opened
// nor checked here: a sub-folder named like a picture is listed, and a file
// that is not a picture fails later, when it is loaded.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/sys/random.h"
#include "playlist/playlist.h"

namespace quelltrine {

inline constexpr std::array<std::string_view, 6> kAcceptedExtensions{"jpg", "jpeg", "png", "heic", "tiff", "bmp"};

// The text after the last dot, ASCII-lower-cased, equals an accepted
// extension exactly. No dot, or a trailing dot, means no extension.
bool hasAcceptedExtension(std::string_view fileName);

// Replaces imageURLs (folder + "/" + name, ascending by comparePathsNFC),
// order (a fresh play order) and orderPos (0) together. A folder that is
// missing, not a folder or unreadable gives an empty list; nothing else of
// the caller's state is touched.
void loadImageList(Playlist& p, const std::string& folderPath, plat::sys::RandomSource& rng);

}  // namespace quelltrine
