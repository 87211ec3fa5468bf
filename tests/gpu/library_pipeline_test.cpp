// Shader library files and pipelines: parsing, refusal of malformed text,
// missing functions and GL compile failures reported with their logs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

TEST(GpuLibrary, ParsesNamedFunctionsInFileOrder) {
  std::string error;
  auto lib = Library::parse(library(kFragments), &error);
  ASSERT_TRUE(lib) << error;
  EXPECT_EQ(lib->functionNames(),
            (std::vector<std::string>{"v_fullscreen", "f_copy", "f_params", "f_halves", "f_composite"}));
  auto v = lib->newFunctionWithName("v_fullscreen");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->name(), "v_fullscreen");
  EXPECT_EQ(v->stage(), FunctionStage::Vertex);
  EXPECT_EQ(lib->newFunctionWithName("f_copy")->stage(), FunctionStage::Fragment);
  EXPECT_EQ(lib->newFunctionWithName("f_present"), nullptr);
  // The prelude reaches every function, and no function sees another's body.
  const std::string& src = lib->newFunctionWithName("f_copy")->source();
  EXPECT_EQ(src.rfind("#version 300 es\n", 0), 0u);
  EXPECT_NE(src.find("uniform Params"), std::string::npos);
  EXPECT_EQ(src.find("f_params"), std::string::npos);
  EXPECT_EQ(src.find("gl_VertexID"), std::string::npos);
}

TEST(GpuLibrary, MalformedTextIsRefusedWithTheLine) {
  struct Case {
    const char* text;
    const char* expect;
  } cases[] = {
      {"", "no //@function"},
      {"// only a header\nvoid main() {}\n", "no //@function"},
      {"//@function f fragment\nvoid main(){}\n//@function f fragment\nvoid main(){}\n", "line 3"},
      {"//@function f geometry\n", "unknown stage"},
      {"//@function vertex\n", "expected //@function"},
      {"//@function f fragment extra\n", "expected //@function"},
      {"//@common\n//@common\n//@function f fragment\n", "second //@common"},
      {"//@shared\n//@function f fragment\n", "unknown marker"},
      {"#version 300 es\n//@function f fragment\nvoid main(){}\n", "#version"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(Library::parse(c.text, &error), nullptr) << c.text;
    EXPECT_NE(error.find(c.expect), std::string::npos) << c.text << " -> " << error;
  }
}

TEST_P(GpuTest, LibraryFilesAreReadOrRefused) {
  std::string error;
  EXPECT_EQ(device->newLibraryWithPath("/nonexistent/default.glsl", &error), nullptr);
  EXPECT_NE(error.find("cannot read"), std::string::npos);

  const std::string path = std::string(QUELLTRINE_BINARY_DIR) + "/gpu_test_library.glsl";
  {
    std::ofstream out(path);
    out << library(kFragments);
  }
  auto fromFile = device->newLibraryWithPath(path, &error);
  ASSERT_TRUE(fromFile) << error;
  EXPECT_EQ(fromFile->functionNames().size(), 5u);
  {
    std::ofstream out(path);
    out << "//@function f_x pixel\n";
  }
  EXPECT_EQ(device->newLibraryWithPath(path, &error), nullptr);
  EXPECT_NE(error.find("unknown stage"), std::string::npos) << error;
  std::remove(path.c_str());
}

TEST_P(GpuTest, PipelineFromALibraryLackingAFunctionIsNone) {
  RenderPipelineDescriptor d;
  d.vertexFunction = lib->newFunctionWithName("v_fullscreen");
  d.fragmentFunction = lib->newFunctionWithName("f_present");  // absent
  d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
  std::string error;
  EXPECT_EQ(device->newRenderPipelineState(d, &error), nullptr);
  EXPECT_FALSE(error.empty());

  // Wrong stage and wrong format are refused too.
  d.fragmentFunction = lib->newFunctionWithName("v_fullscreen");
  EXPECT_EQ(device->newRenderPipelineState(d, &error), nullptr);
  d.fragmentFunction = lib->newFunctionWithName("f_copy");
  d.colorAttachments[0].pixelFormat = PixelFormat::Invalid;
  EXPECT_EQ(device->newRenderPipelineState(d, &error), nullptr);
  d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
  EXPECT_NE(device->newRenderPipelineState(d, &error), nullptr) << error;
}

TEST_P(GpuTest, CompileAndLinkFailuresCarryTheGLLog) {
  std::string error;
  auto bad = Library::parse(library(R"(
//@function f_broken fragment
out vec4 color;
void main() { color = undefinedThing; }
//@function f_needs_varying fragment
in vec3 notWritten;
out vec4 color;
void main() { color = vec4(notWritten, 1.0); }
)"),
                            &error);
  ASSERT_TRUE(bad) << error;
  RenderPipelineDescriptor d;
  d.vertexFunction = bad->newFunctionWithName("v_fullscreen");
  d.fragmentFunction = bad->newFunctionWithName("f_broken");
  d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
  EXPECT_EQ(device->newRenderPipelineState(d, &error), nullptr);
  EXPECT_NE(error.find("f_broken"), std::string::npos) << error;
  EXPECT_NE(error.find("undefinedThing"), std::string::npos) << error;

  d.fragmentFunction = bad->newFunctionWithName("f_needs_varying");
  EXPECT_EQ(device->newRenderPipelineState(d, &error), nullptr);
  EXPECT_NE(error.find("do not link"), std::string::npos) << error;
}

}  // namespace
}  // namespace gputest
