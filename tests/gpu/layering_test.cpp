// The GPU layer's headers keep the backing to themselves: the public headers of platform/gpu name no GL, EGL or
// epoxy type, function or header and include none of platform/gpu/gl/; only the layer's own code and tests that
// mean to reach its GL state include the headers there. The public headers also go after Xlib, whose macros
// (Status, Bool, None) would break any of their names: this file includes Xlib first and fails to compile when a
// public header brings in a GL header, or when the objects that the layer alone makes get a public constructor.
// (The test framework goes first: its own names clash with Xlib's None.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

#include <X11/Xlib.h>

#include "platform/gpu/gpu.h"

#if defined(EPOXY_GL_H) || defined(EPOXY_EGL_H) || defined(__gl_h_) || defined(__egl_h_)
#error "a public header of platform/gpu includes a GL or EGL header"
#endif

namespace {

namespace gpu = plat::gpu;
using CoreRef = std::shared_ptr<gpu::detail::Core>;
static_assert(!std::is_constructible_v<gpu::Device, CoreRef>);
static_assert(!std::is_constructible_v<gpu::CommandQueue, CoreRef>);
static_assert(!std::is_constructible_v<gpu::CommandBuffer, CoreRef>);
static_assert(!std::is_constructible_v<gpu::RenderCommandEncoder, std::shared_ptr<gpu::detail::RecordedPass>>);
static_assert(!std::is_constructible_v<gpu::Function, std::string, gpu::FunctionStage, std::string>);
static_assert(!std::is_constructible_v<gpu::Drawable, std::shared_ptr<gpu::Texture>,
                                       std::shared_ptr<gpu::detail::WindowSurface>, std::shared_ptr<gpu::Overlay>>);
static_assert(!std::is_constructible_v<gpu::Texture, gpu::TextureDescriptor, std::size_t,
                                       std::unique_ptr<gpu::detail::TextureState>>);
static_assert(!std::is_constructible_v<gpu::RenderPipelineState, std::unique_ptr<gpu::detail::PipelineState>>);

namespace fs = std::filesystem;

const fs::path kSource = QUELLTRINE_SOURCE_DIR;

// Each line of `file` that `pattern` finds, as "file:line: text".
std::vector<std::string> linesMatching(const fs::path& file, const std::regex& pattern) {
  std::vector<std::string> found;
  std::ifstream in(file);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (std::regex_search(line, pattern))
      found.push_back(fs::relative(file, kSource).string() + ":" + std::to_string(number) + ": " + line);
  }
  return found;
}

bool isSource(const fs::path& file) {
  const std::string ext = file.extension().string();
  return ext == ".h" || ext == ".cpp" || ext == ".cc";
}

std::vector<fs::path> publicHeaders() {
  std::vector<fs::path> headers;
  for (const auto& entry : fs::directory_iterator(kSource / "platform/gpu"))
    if (entry.is_regular_file() && entry.path().extension() == ".h") headers.push_back(entry.path());
  return headers;
}

const std::regex kIncludesGlHeader(R"(#\s*include\s*"platform/gpu/gl/)");

TEST(GpuLayering, PublicHeadersNameNothingOfTheBacking) {
  const std::vector<fs::path> headers = publicHeaders();
  ASSERT_GE(headers.size(), 10u) << "the public headers were not found under " << kSource;
  const std::regex backing(R"(\bGL[a-z_0-9]*\b|\bgl[A-Z]|EGL|epoxy|GLsync|GLuint|GLenum)");
  for (const fs::path& header : headers) {
    SCOPED_TRACE(header.filename().string());
    EXPECT_EQ(linesMatching(header, backing), std::vector<std::string>{});
    EXPECT_EQ(linesMatching(header, kIncludesGlHeader), std::vector<std::string>{});
  }
}

TEST(GpuLayering, OnlyTheLayerItselfIncludesItsGlHeaders) {
  std::vector<std::string> found;
  for (const char* folder : {"effects", "playlist", "render", "host", "engine", "platform", "bench", "fuzz"}) {
    if (!fs::exists(kSource / folder)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(kSource / folder)) {
      const fs::path& file = entry.path();
      if (!entry.is_regular_file() || !isSource(file)) continue;
      // The layer's own code; its public headers are the test above's.
      if (file.parent_path() == kSource / "platform/gpu" || file.parent_path() == kSource / "platform/gpu/gl") continue;
      for (std::string& line : linesMatching(file, kIncludesGlHeader)) found.push_back(std::move(line));
    }
  }
  EXPECT_EQ(found, std::vector<std::string>{});
}

}  // namespace
