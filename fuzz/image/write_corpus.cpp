// Writes the image fixtures into a folder: the fuzzer's seed corpus.
#include <cstdio>
#include <string>

#include "image/fixtures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  int written = 0;
  for (const auto& [name, bytes] : fixtures::all()) {
    if (bytes.empty()) continue;
    if (!fixtures::writeFile(std::string(argv[1]) + "/" + name, bytes)) {
      std::fprintf(stderr, "cannot write %s\n", name.c_str());
      return 1;
    }
    ++written;
  }
  std::printf("%d seed files\n", written);
  return 0;
}
