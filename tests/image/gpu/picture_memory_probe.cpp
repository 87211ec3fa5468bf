// Loads at most one picture as a view does and prints the texture's size, the renderer and the peak
// resident memory (VmHWM).  picture_memory_probe VIEW_WIDTH VIEW_HEIGHT [PICTURE]
// Exit 0 when the picture (if any) loaded, 1 when not, 2 on bad arguments or without a GPU device.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/gpu/device.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"
#include "playlist/texture_loading.h"

namespace {

long peakKilobytes() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
  }
  std::fclose(status);
  return kb;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) return 2;
  const plat::ui::Size view{std::atof(argv[1]), std::atof(argv[2])};
  auto device = plat::gpu::createSystemDefaultDevice();
  if (!device) return 2;
  plat::gpu::TextureLoader loader(device);
  quelltrine::Playlist playlist{{}, {}, 0};
  if (argc == 4) playlist = quelltrine::Playlist{{argv[3]}, {0}, 0};
  plat::sys::SystemRandom rng;
  auto texture = quelltrine::loadNextTexture(playlist, &loader, view, rng);
  std::printf("texture %zu %zu\n", texture ? texture->width() : 0, texture ? texture->height() : 0);
  std::printf("renderer %s\n", device->limits().rendererName.c_str());
  std::printf("peak_kb %ld\n", peakKilobytes());
  return argc == 4 && !texture ? 1 : 0;
}
