// Shader libraries and pipelines: malformed text, unreadable files, missing
// functions, and GL compile and link failures refused with their reasons.
#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

TEST(GpuLibrary, MalformedTextIsRefusedWithTheReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "no //@function"},
      {"//@function f fragment\nvoid main(){}\n//@function f fragment\n", "line 3"},
      {"//@function f geometry\n", "unknown stage"},
      {"//@function f fragment extra\n", "expected //@function"},
      {"//@common\n//@common\n//@function f fragment\n", "second //@common"},
      {"//@shared\n//@function f fragment\n", "unknown marker"},
      {"#version 300 es\n//@function f fragment\nvoid main(){}\n", "#version"},
  };
  for (const auto& [text, expect] : cases) {
    std::string error;
    EXPECT_EQ(Library::parse(text, &error), nullptr) << text;
    EXPECT_NE(error.find(expect), std::string::npos) << text << " -> " << error;
  }
}

TEST_F(GpuTest, LibraryFilesAndPipelinesAreRefusedWithTheReason) {
  std::string error;
  EXPECT_EQ(device->newLibraryWithPath("/nonexistent/default.glsl", &error), nullptr);
  EXPECT_NE(error.find("cannot read"), std::string::npos);
  auto bad = Library::parse(library(R"(
//@function f_broken fragment
out vec4 color;
void main() { color = undefinedThing; }
//@function f_needs_varying fragment
in vec3 notWritten;
out vec4 color;
void main() { color = vec4(notWritten, 1.0); }
)"));
  ASSERT_TRUE(bad);
  RenderPipelineDescriptor d;
  d.vertexFunction = bad->newFunctionWithName("v_fullscreen");
  d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
  auto refused = [&](const char* fragment) {
    d.fragmentFunction = bad->newFunctionWithName(fragment);
    error.clear();
    return device->newRenderPipelineState(d, &error) == nullptr && !error.empty();
  };
  EXPECT_TRUE(refused("f_present"));     // absent from the library
  EXPECT_TRUE(refused("v_fullscreen"));  // wrong stage
  EXPECT_TRUE(refused("f_broken"));
  EXPECT_NE(error.find("undefinedThing"), std::string::npos) << error;
  EXPECT_TRUE(refused("f_needs_varying"));
  EXPECT_NE(error.find("do not link"), std::string::npos) << error;
  d.colorAttachments[0].pixelFormat = PixelFormat::Invalid;
  EXPECT_TRUE(refused("f_copy"));
  d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
  EXPECT_FALSE(refused("f_copy")) << error;
}

}  // namespace
}  // namespace gputest
