// Shared helpers of the GPU tests: a fixture that holds a device on Mesa's
// software rasteriser (headless) and checks at the end that releasing every
// object frees every GL object, plus small shader libraries and a one-pass
// render helper.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"

namespace gputest {

using namespace plat::gpu;

// A full-screen triangle with uv (0,0) at the top-left of the target.
inline const char* kCommonAndVertex = R"(
//@common
uniform sampler2D tex0;
uniform sampler2D tex1;
uniform sampler2D tex2;
uniform sampler2D tex3;
uniform sampler2D tex4;
layout(std140) uniform Params { float a; float b; float c; float d; };
//@function v_fullscreen vertex
out vec2 uv;
void main() {
  vec2 p = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  uv = p;
  gl_Position = vec4(p.x * 2.0 - 1.0, 1.0 - p.y * 2.0, 0.0, 1.0);
}
)";

inline std::string library(const std::string& fragments) { return std::string(kCommonAndVertex) + fragments; }

// f_halves: red above the row c (counted from the top), blue below.
inline const char* kFragments = R"(
//@function f_copy fragment
in vec2 uv;
out vec4 color;
void main() { color = texture(tex0, uv); }
//@function f_params fragment
in vec2 uv;
out vec4 color;
void main() { color = vec4(a, b, c, d); }
//@function f_halves fragment
out vec4 color;
void main() { color = gl_FragCoord.y < c ? vec4(1, 0, 0, 1) : vec4(0, 0, 1, 1); }
//@function f_composite fragment
in vec2 uv;
out vec4 color;
void main() {
  vec4 s0 = texture(tex0, uv), s1 = texture(tex1, uv), s2 = texture(tex2, uv);
  vec4 s3 = texture(tex3, uv), s4 = texture(tex4, uv);
  color = vec4(s0.r * a + s1.r * b, s2.r * 0.5 + s3.g, s4.b, 1.0);
}
)";

// Parameter: whether the device pretends to lack GL's BGRA extensions, so
// that every case also runs through the RGBA fallbacks.
class GpuTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    plat::gpu::testing::pretendNoBgraExtensions(GetParam());
    device = createSystemDefaultDevice();
    if (!device) GTEST_SKIP() << "no EGL device with OpenGL ES 3";
    queue = device->newCommandQueue();
    std::string error;
    lib = Library::parse(library(kFragments), &error);
    ASSERT_TRUE(lib) << error;
  }

  void TearDown() override {
    pipelines.clear();
    lib.reset();
    queue.reset();
    device.reset();
    EXPECT_EQ(plat::gpu::testing::liveGLObjectCount(), 0u) << "GL objects left after every object was released";
    plat::gpu::testing::pretendNoBgraExtensions(false);
  }

  std::shared_ptr<RenderPipelineState> pipeline(const std::string& fragment) {
    auto it = pipelines.find(fragment);
    if (it != pipelines.end()) return it->second;
    RenderPipelineDescriptor d;
    d.vertexFunction = lib->newFunctionWithName("v_fullscreen");
    d.fragmentFunction = lib->newFunctionWithName(fragment);
    d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
    std::string error;
    auto pso = device->newRenderPipelineState(d, &error);
    EXPECT_TRUE(pso) << error;
    pipelines[fragment] = pso;
    return pso;
  }

  std::shared_ptr<Texture> texture(std::size_t w, std::size_t h, std::uint32_t usage = TextureUsage::ShaderRead |
                                                                                           TextureUsage::RenderTarget) {
    auto d = TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, w, h, false);
    d.usage = usage;
    return device->newTexture(d);
  }

  std::shared_ptr<Texture> filled(std::size_t w, std::size_t h, const std::vector<std::uint8_t>& bgra) {
    auto t = texture(w, h, TextureUsage::ShaderRead);
    t->replaceRegion(makeRegion(0, 0, w, h), 0, bgra.data(), w * 4);
    return t;
  }

  static std::vector<std::uint8_t> read(const Texture& t) {
    std::vector<std::uint8_t> out(t.width() * t.height() * 4, 0xEE);
    t.getBytes(out.data(), t.width() * 4, makeRegion(0, 0, t.width(), t.height()), 0);
    return out;
  }

  // Encodes one clearing pass drawing a triangle with `fragment` into target.
  void encodePass(CommandBuffer& buffer, const std::shared_ptr<Texture>& target, const std::string& fragment,
                  const std::vector<std::shared_ptr<Texture>>& inputs, const float params[4]) {
    RenderPassDescriptor pass;
    pass.colorAttachments[0].texture = target;
    pass.colorAttachments[0].loadAction = LoadAction::Clear;
    pass.colorAttachments[0].storeAction = StoreAction::Store;
    auto encoder = buffer.renderCommandEncoder(pass);
    ASSERT_TRUE(encoder);
    encoder->setRenderPipelineState(pipeline(fragment));
    for (std::size_t i = 0; i < inputs.size(); ++i) encoder->setFragmentTexture(inputs[i], i);
    if (params != nullptr) encoder->setFragmentBytes(params, 4 * sizeof(float), 0);
    encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
    encoder->endEncoding();
  }

  void renderOnce(const std::shared_ptr<Texture>& target, const std::string& fragment,
                  const std::vector<std::shared_ptr<Texture>>& inputs, const float params[4] = nullptr) {
    auto buffer = queue->commandBuffer();
    ASSERT_TRUE(buffer);
    encodePass(*buffer, target, fragment, inputs, params);
    buffer->commit();
    buffer->waitUntilCompleted();
  }

  std::shared_ptr<Device> device;
  std::shared_ptr<CommandQueue> queue;
  std::shared_ptr<Library> lib;
  std::map<std::string, std::shared_ptr<RenderPipelineState>> pipelines;
};

}  // namespace gputest
