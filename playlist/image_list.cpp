#include "playlist/image_list.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/sys/fs.h"
#include "platform/sys/unicode.h"

namespace quelltrine {

bool hasAcceptedExtension(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(fileName.substr(dot + 1));
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return std::find(kAcceptedExtensions.begin(), kAcceptedExtensions.end(), ext) != kAcceptedExtensions.end();
}

void loadImageList(Playlist& p, const std::string& folderPath, plat::sys::RandomSource& rng) {
  // A folder that cannot be listed counts as empty; its error is dropped.
  std::vector<std::string> names = plat::sys::listDirectoryNames(folderPath).valueOr(std::vector<std::string>{});

  // (sort key, path): each NFC key is computed once, not per comparison.
  std::vector<std::pair<std::string, std::string>> kept;
  for (const std::string& name : names) {
    if (!hasAcceptedExtension(name)) continue;
    std::string path = plat::sys::joinPath(folderPath, name);
    std::string key = plat::sys::nfcSortKey(path);
    kept.emplace_back(std::move(key), std::move(path));
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  p.imageURLs.clear();
  p.imageURLs.reserve(kept.size());
  for (auto& entry : kept) p.imageURLs.push_back(std::move(entry.second));
  p.order = plat::sys::freshPlayOrder(static_cast<std::int64_t>(p.imageURLs.size()), rng);
  p.orderPos = 0;
}

}  // namespace quelltrine
