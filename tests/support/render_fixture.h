// Tests that build real views: an isolated home, folders of solid-colour PNG files, bundles with a chosen library.
#pragma once

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/quelltrine_saver_view.h"
#include "host/settings.h"
#include "platform/gpu/gpu.h"
#include "platform/image/image.h"
#include "sys/temp_env.h"

namespace qtest {

struct Rgb {
  std::uint8_t r, g, b;
};

// A solid picture written as PNG through the platform's writer.
inline void writeSolidPng(const std::string& path, int width, int height, Rgb colour) {
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
  const std::array<std::uint8_t, 4> px{colour.b, colour.g, colour.r, 255};
  for (std::size_t i = 0; i < bgra.size(); i += 4) std::copy_n(px.begin(), 4, &bgra[i]);
  plat::image::PixelView view{bgra.data(), width, height, static_cast<std::size_t>(width) * 4,
                              plat::image::PixelOrder::BGRA};
  ASSERT_TRUE(plat::image::writePNG(path, view)) << path;
}

// A BGRA texture that passes can draw into and tests can read back.
inline std::shared_ptr<plat::gpu::Texture> renderTarget(plat::gpu::Device& device, std::size_t w, std::size_t h) {
  auto desc = plat::gpu::TextureDescriptor::texture2D(plat::gpu::PixelFormat::BGRA8Unorm, w, h, false);
  desc.usage = plat::gpu::TextureUsage::ShaderRead | plat::gpu::TextureUsage::RenderTarget;
  return device.newTexture(desc);
}

// A bundle folder with a manifest and, unless `library` is empty, that shader library.
inline std::string makeBundle(const std::string& folder, const std::string& library) {
  namespace fs = std::filesystem;
  fs::create_directories(folder + "/Contents/MacOS");
  fs::create_directories(folder + "/Contents/Resources");
  std::ofstream(folder + "/Contents/Info.ini")
      << "Executable=QuelltrineSaver\nPrincipalClass=QuelltrineSaverView\nIdentifier=com.quelltrine.saver\n";
  if (!library.empty()) std::ofstream(folder + "/Contents/Resources/default.glsllib") << library;
  return folder;
}

// The library as the build bundled it (the checked-in file lacks the slot amounts' constants).
inline std::string realShaderLibrary() { return readFile(QUELLTRINE_BUNDLE_DIR "/Contents/Resources/default.glsllib"); }

// The real library's parameter block, a full-screen vertex function (uv (0,0) top-left) and the given fragments.
inline std::string testLibrary(const std::string& fragmentFunctions) {
  std::string real = realShaderLibrary();
  auto begin = real.find("//@common");
  auto end = real.find("//@function", begin);
  return real.substr(begin, end - begin) + R"(
//@function v_fullscreen vertex
out vec2 vUV;
void main() {
  vec2 p = vec2(float((gl_VertexID & 1) << 2) - 1.0, 1.0 - float((gl_VertexID & 2) << 1));
  vUV = vec2((p.x + 1.0) * 0.5, (1.0 - p.y) * 0.5);
  gl_Position = vec4(p, 0.0, 1.0);
}
)" + fragmentFunctions;
}

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("HOME", dir_ / "home");
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    std::filesystem::create_directories(dir_ / "home");
    useLibrary(realShaderLibrary());
  }
  void TearDown() override { quelltrine::QuelltrineSaverView::setBundlePathOverride(""); }

  // The bundle the next views find their shader library in.
  void useLibrary(const std::string& library) {
    static int counter = 0;
    std::string bundle = makeBundle(dir_ / ("bundle" + std::to_string(counter++) + ".saver"), library);
    quelltrine::QuelltrineSaverView::setBundlePathOverride(bundle);
  }

  // Stores as the image folder a new folder with one solid picture per colour, p0.png ...
  std::string usePictures(const std::vector<Rgb>& colours, int width = 64, int height = 40) {
    std::string folder = dir_ / ("pictures" + std::to_string(folders_++));
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < colours.size(); ++i) {
      writeSolidPng(folder + "/p" + std::to_string(i) + ".png", width, height, colours[i]);
    }
    quelltrine::settings::storeImageFolder(folder);
    return folder;
  }

  std::shared_ptr<quelltrine::QuelltrineSaverView> makeView(double width = 160, double height = 100) {
    return quelltrine::QuelltrineSaverView::initWithFrame(plat::ui::makeRect(0, 0, width, height), false);
  }

  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  EnvGuard env_;
  int folders_ = 0;
};

}  // namespace qtest
