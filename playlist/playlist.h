// The playlist state the view owns: the accepted pictures of the folder, the
// play order over them and the position of the next picture to load.
// Invariants: `order` is a permutation of 0 ... imageURLs.size()-1, and
// 0 <= orderPos <= order.size(); orderPos == order.size() means the current
// cycle is used up and the next load deals a fresh one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelltrine {

struct Playlist {
  std::vector<std::string> imageURLs;  // absolute file-system paths, ascending
  std::vector<std::int64_t> order;
  std::int64_t orderPos = 0;
};

}  // namespace quelltrine
