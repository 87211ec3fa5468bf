// GPU test helpers: a software-rendered device that must leave no GL object alive, a library, render helpers.
#pragma once

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/gpu/gl/testing.h"
#include "platform/gpu/gpu.h"
#include "platform/image/image.h"

namespace gputest {

using namespace plat::gpu;
using Bytes = std::vector<std::uint8_t>;
using Textures = std::vector<std::shared_ptr<Texture>>;

// A full-screen triangle with uv (0,0) at the top-left; f_halves is red above the row c (from the top), blue below;
// f_probe is green if tex0 samples as (40, 0, 80, 255) / 255; f_down has full red, green and blue where dFdy of uv.y,
// dFdy of gl_FragCoord.y and dFdx of gl_FragCoord.x are positive (both axes counted from the top-left).
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
//@function f_params fragment
out vec4 color; void main() { color = vec4(a, b, c, d); }
//@function f_halves fragment
out vec4 color; void main() { color = gl_FragCoord.y < c ? vec4(1, 0, 0, 1) : vec4(0, 0, 1, 1); }
//@function f_composite fragment
in vec2 uv; out vec4 color; void main() { color = vec4(texture(tex0, uv).r * a + texture(tex1, uv).r * b,
    texture(tex2, uv).r * 0.5 + texture(tex3, uv).g, texture(tex4, uv).b, 1.0); }
//@function f_down fragment
in vec2 uv; out vec4 color; void main() { color = vec4(float(dFdy(uv.y) > 0.0), float(dFdy(gl_FragCoord.y) > 0.0),
    float(dFdx(gl_FragCoord.x) > 0.0), 1.0); }
//@function f_probe fragment
out vec4 color; void main() { color = distance(texture(tex0, vec2(0.5)), vec4(40, 0, 80, 255) / 255.0) < 0.5 / 255.0
    ? vec4(0, 1, 0, 1) : vec4(1, 0, 0, 1); }
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

  static constexpr std::uint32_t kTarget = TextureUsage::ShaderRead | TextureUsage::RenderTarget;
  std::shared_ptr<Texture> texture(std::size_t w, std::size_t h, std::uint32_t usage = kTarget) {
    auto d = TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, w, h, false);
    d.usage = usage;
    return device->newTexture(d);
  }
  auto filled(std::size_t w, std::size_t h, const Bytes& bgra, std::uint32_t usage = TextureUsage::ShaderRead) {
    auto t = texture(w, h, usage);
    t->replaceRegion(makeRegion(0, 0, w, h), 0, bgra.data(), w * 4);
    return t;
  }
  static Bytes tile(std::size_t n, Bytes px) {  // one pixel, n times
    for (std::size_t i = 4; i < 4 * n; ++i) px.push_back(px[i - 4]);
    return px;
  }
  static Bytes read(const Texture& t) { return read(t, 0, 0, t.width(), t.height()); }
  static Bytes read(const Texture& t, std::size_t x, std::size_t y, std::size_t w = 1, std::size_t h = 1) {
    Bytes out(w * h * 4, 0xEE);
    t.getBytes(out.data(), w * 4, makeRegion(x, y, w, h), 0);
    return out;
  }

  void encodePass(CommandBuffer& buffer, const std::shared_ptr<Texture>& target, const char* fragment,
                  const Textures& inputs, const float* params) {
    RenderPassDescriptor pass;
    pass.colorAttachments[0].texture = target;
    auto encoder = buffer.renderCommandEncoder(pass);
    ASSERT_TRUE(encoder);
    encoder->setRenderPipelineState(pipeline(*device, *lib, fragment));
    for (std::size_t i = 0; i < inputs.size(); ++i) encoder->setFragmentTexture(inputs[i], i);
    if (params != nullptr) encoder->setFragmentBytes(params, 4 * sizeof(float), 0);
    encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
    encoder->endEncoding();
  }
  void renderOnce(const std::shared_ptr<Texture>& target, const char* fragment, const Textures& inputs,
                  const float* params = nullptr) {
    auto buffer = queue->commandBuffer();
    encodePass(*buffer, target, fragment, inputs, params);
    buffer->commit(), buffer->waitUntilCompleted();
  }

  bool fallback = false;
  std::shared_ptr<Device> device;
  std::shared_ptr<CommandQueue> queue;
  std::shared_ptr<Library> lib;
};

// Rows `stride` bytes apart, handed over `stripRows` at a time; without rows every decode fails. Counts decodes.
struct RowsImage : plat::image::Image {
  RowsImage(int w, int h, std::size_t stride, plat::image::PixelOrder order, Bytes rows, int stripRows = 1)
      : w(w), h(h), stride(stride), order(order), rows(std::move(rows)), stripRows(stripRows) {}
  int width() const override { return w; }
  int height() const override { return h; }
  plat::ErrorOr<plat::image::PixelView> decodedPixels() const override {
    ++decodes;
    if (rows.empty()) return broken();
    return plat::image::PixelView{rows.data(), w, h, stride, order};
  }
  plat::ErrorOr<void> rowsInRect(int x, int y, int rw, int rh, plat::image::RowSink& sink) const override {
    ++decodes;
    if (rows.empty()) return broken();
    for (int r = 0; r < rh; r += stripRows) {
      const plat::image::PixelView strip{rows.data() + std::size_t(y + r) * stride + std::size_t(x) * 4, rw,
                                         std::min(stripRows, rh - r), stride, order};
      if (auto taken = sink.take(strip, r); !taken) return taken;
    }
    return {};
  }
  static plat::Error broken() { return {plat::ErrorKind::Picture, "png", "broken", "broken.png"}; }
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
