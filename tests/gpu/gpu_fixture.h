// GPU test helpers: a software-rendered device that must leave no GL object alive, a library, a row-strip image.
#pragma once

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/gpu/gl/testing.h"
#include "platform/gpu/gpu.h"
#include "platform/image/image.h"

namespace gputest {

using namespace plat::gpu;
using Bytes = std::vector<std::uint8_t>;

// A full-screen triangle with uv (0,0) at the top-left; f_copy samples tex0; f_halves is red above the row c (from the top), blue below;
// f_down is white where uv.y and gl_FragCoord.y grow downwards and gl_FragCoord.x to the right.
inline std::string library(const std::string& fragments) {
  return R"(
//@common
uniform sampler2D tex0, tex1, tex2, tex3, tex4;
layout(std140) uniform Params { float a; float b; float c; float d; };
//@function v_fullscreen vertex
out vec2 uv;
void main() {
  uv = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  gl_Position = vec4(uv.x * 2.0 - 1.0, 1.0 - uv.y * 2.0, 0.0, 1.0);
}
//@function f_copy fragment
in vec2 uv; out vec4 color; void main() { color = texture(tex0, uv); }
//@function f_halves fragment
out vec4 color; void main() { color = gl_FragCoord.y < c ? vec4(1, 0, 0, 1) : vec4(0, 0, 1, 1); }
//@function f_down fragment
in vec2 uv; out vec4 color; void main() { color = vec4(float(dFdy(uv.y) > 0.0), float(dFdy(gl_FragCoord.y) > 0.0),
    float(dFdx(gl_FragCoord.x) > 0.0), 1.0); }
)" + fragments;
}

inline std::shared_ptr<RenderPipelineState> pipeline(Device& device, const Library& lib, const char* fragment) {
  RenderPipelineDescriptor d;
  d.vertexFunction = lib.newFunctionWithName("v_fullscreen");
  d.fragmentFunction = lib.newFunctionWithName(fragment);
  d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
  return device.newRenderPipelineState(d).valueOr(nullptr);
}

class GpuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::gpu::testing::pretendNoBgraExtensions(fallback);
    if (!(device = createSystemDefaultDevice())) GTEST_SKIP() << "no EGL device with OpenGL ES 3";
    queue = device->newCommandQueue();
    ASSERT_TRUE(lib = Library::parse(library("")).valueOr(nullptr));
  }
  void TearDown() override {
    lib.reset(), queue.reset(), device.reset();
    EXPECT_EQ(plat::gpu::testing::liveGLObjectCount(), 0u) << "GL objects left after every object was released";
    plat::gpu::testing::pretendNoBgraExtensions(false);
  }

  bool fallback = false;
  std::shared_ptr<Device> device;
  std::shared_ptr<CommandQueue> queue;
  std::shared_ptr<Library> lib;
};

// Rows `stride` bytes apart, handed over `stripRows` at a time. Counts decodes.
struct RowsImage : plat::image::Image {
  RowsImage(int w, int h, std::size_t stride, plat::image::PixelOrder order, Bytes rows, int stripRows = 1)
      : w(w), h(h), stride(stride), order(order), rows(std::move(rows)), stripRows(stripRows) {}
  int width() const override { return w; }
  int height() const override { return h; }
  plat::ErrorOr<plat::image::PixelView> decodedPixels() const override {
    ++decodes;
    return plat::image::PixelView{rows.data(), w, h, stride, order};
  }
  plat::ErrorOr<void> rowsInRect(int x, int y, int rw, int rh, plat::image::RowSink& sink) const override {
    ++decodes;
    for (int r = 0; r < rh; r += stripRows) {
      const plat::image::PixelView strip{rows.data() + std::size_t(y + r) * stride + std::size_t(x) * 4, rw,
                                         std::min(stripRows, rh - r), stride, order};
      if (auto taken = sink.take(strip, r); !taken) return taken;
    }
    return {};
  }
  int w, h;
  std::size_t stride;
  plat::image::PixelOrder order;
  Bytes rows;
  int stripRows;
  mutable int decodes = 0;
};

// Runs on the native BGRA path and on the RGBA fallback.
class GpuBoth : public GpuTest, public ::testing::WithParamInterface<bool> {
  void SetUp() override { fallback = GetParam(), GpuTest::SetUp(); }
};

}  // namespace gputest
