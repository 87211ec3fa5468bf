// Rendering: what shaders sample, where rendered rows land, the two-pass
// frame of the renderer, fragment bytes captured at encode time, the order
// of passes, resources kept alive by a buffer, and the fault seams.
#include <gtest/gtest.h>

#include "gpu/gpu_fixture.h"

namespace gputest {
namespace {

std::vector<std::uint8_t> pixel(const std::vector<std::uint8_t>& all, std::size_t width, std::size_t x, std::size_t y) {
  const auto at = static_cast<long>((y * width + x) * 4);
  return {all.begin() + at, all.begin() + at + 4};
}

using Bytes = std::vector<std::uint8_t>;

TEST_P(GpuTest, FallbackTexelIsSampledAsPlainNormalisedColour) {
  const Bytes texel = {0x50, 0x00, 0x28, 0xFF};
  auto fallback = filled(1, 1, texel);
  auto target = texture(4, 4);
  renderOnce(target, "f_copy", {fallback});
  // (40/255, 0, 80/255, 1) written back as B,G,R,A.
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(pixel(read(*target), 4, i % 4, i / 4), texel);

  // The sampled value itself, scaled so that a wrong channel shows.
  const float scale[4] = {1, 1, 1, 1};
  auto probe = Library::parse(library(R"(
//@function f_probe fragment
in vec2 uv;
out vec4 color;
void main() {
  vec4 s = texture(tex0, uv);
  bool exact = abs(s.r - 40.0 / 255.0) < 0.5 / 255.0 && s.g == 0.0 && abs(s.b - 80.0 / 255.0) < 0.5 / 255.0 && s.a == 1.0;
  color = exact ? vec4(0, 1, 0, 1) : vec4(1, 0, 0, 1);
}
)"));
  ASSERT_TRUE(probe);
  lib = probe;
  renderOnce(target, "f_probe", {fallback}, scale);
  EXPECT_EQ(pixel(read(*target), 4, 2, 2), (Bytes{0, 255, 0, 255}));
}

TEST_P(GpuTest, RenderedTopRowIsMemoryRowZero) {
  auto target = texture(8, 6);
  const float half[4] = {0, 0, 3.0f, 0};  // red where gl_FragCoord.y < 3
  renderOnce(target, "f_halves", {}, half);
  const Bytes all = read(*target);
  EXPECT_EQ(pixel(all, 8, 0, 0), (Bytes{0, 0, 255, 255}));  // red on top
  EXPECT_EQ(pixel(all, 8, 7, 2), (Bytes{0, 0, 255, 255}));
  EXPECT_EQ(pixel(all, 8, 0, 3), (Bytes{255, 0, 0, 255}));  // blue below
  EXPECT_EQ(pixel(all, 8, 7, 5), (Bytes{255, 0, 0, 255}));

  // A picture copied through uv comes back upright and pixel-exact.
  Bytes picture(8 * 6 * 4);
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>((i * 37 + 11) % 251);
  for (std::size_t i = 3; i < picture.size(); i += 4) picture[i] = 255;
  auto source = filled(8, 6, picture);
  renderOnce(target, "f_copy", {source});
  EXPECT_EQ(read(*target), picture);
}

// The renderer's frame: composite of five inputs into a scene texture, then
// present of the scene into the target, in one buffer.
TEST_P(GpuTest, TwoPassFrameIsPixelExactAndFeedsBack) {
  const std::size_t w = 6, h = 4;
  auto a = filled(1, 1, {0, 0, 0x80, 255});      // red 128
  auto b = filled(1, 1, {0, 0, 0x40, 255});      // red 64
  auto s3 = filled(1, 1, {0, 0x20, 0, 255});     // green 32
  auto s4 = filled(1, 1, {0x66, 0, 0, 255});     // blue 102
  auto scene0 = texture(w, h), scene1 = texture(w, h);
  Bytes black(w * h * 4, 0);
  for (std::size_t i = 3; i < black.size(); i += 4) black[i] = 255;
  scene1->replaceRegion(makeRegion(0, 0, w, h), 0, black.data(), w * 4);
  auto target = texture(w, h);

  // r = a.r * 1 + b.r * 0, g = previous.r / 2 + s3.g, b = s4.b
  float uni[4] = {1.0f, 0.0f, 0.0f, 0.0f};
  auto frame = [&](const std::shared_ptr<Texture>& current, const std::shared_ptr<Texture>& previous) {
    auto buffer = queue->commandBuffer();
    ASSERT_TRUE(buffer);
    encodePass(*buffer, current, "f_composite", {a, b, previous, s3, s4}, uni);
    encodePass(*buffer, target, "f_copy", {current}, uni);
    buffer->commit();
    buffer->waitUntilCompleted();
  };
  frame(scene0, scene1);
  Bytes expect1 = {0x66, 0x20, 0x80, 255};
  for (std::size_t i = 0; i < w * h; ++i) ASSERT_EQ(pixel(read(*target), w, i % w, i / w), expect1) << i;

  uni[0] = 0.0f;  // r from b only
  uni[1] = 1.0f;
  frame(scene1, scene0);  // previous = scene0, red 128: g = 64 + 32
  const Bytes expect2 = {0x66, 0x60, 0x40, 255};
  for (std::size_t i = 0; i < w * h; ++i) ASSERT_EQ(pixel(read(*target), w, i % w, i / w), expect2) << i;
  EXPECT_EQ(pixel(read(*scene0), w, 3, 2), expect1);  // the scene just used as feedback is intact
}

TEST_P(GpuTest, FragmentBytesAreTheOnesEncoded) {
  auto first = texture(2, 2), second = texture(2, 2);
  float uni[4] = {0.25f, 0.5f, 0.75f, 1.0f};
  auto buffer = queue->commandBuffer();
  encodePass(*buffer, first, "f_params", {}, uni);
  uni[0] = 1.0f;
  uni[2] = 0.0f;
  encodePass(*buffer, second, "f_params", {}, uni);
  uni[0] = uni[1] = uni[2] = 0.0f;  // after encoding, before commit
  buffer->commit();
  buffer->waitUntilCompleted();
  EXPECT_EQ(pixel(read(*first), 2, 1, 1), (Bytes{191, 128, 64, 255}));
  EXPECT_EQ(pixel(read(*second), 2, 0, 0), (Bytes{0, 128, 255, 255}));

  // Fewer bytes than the block: the rest reads as zero, not stale values.
  auto third = texture(2, 2);
  auto b2 = queue->commandBuffer();
  RenderPassDescriptor pass;
  pass.colorAttachments[0].texture = third;
  pass.colorAttachments[0].loadAction = LoadAction::Clear;
  auto encoder = b2->renderCommandEncoder(pass);
  const float one = 1.0f;
  encoder->setRenderPipelineState(pipeline("f_params"));
  encoder->setFragmentBytes(&one, sizeof one, 0);
  encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
  encoder->endEncoding();
  b2->commit();
  b2->waitUntilCompleted();
  EXPECT_EQ(pixel(read(*third), 2, 1, 0), (Bytes{0, 0, 255, 0}));
}

TEST_P(GpuTest, LoadActionsAndDroppedDraws) {
  auto target = texture(2, 2);
  const Bytes green = {0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255};
  target->replaceRegion(makeRegion(0, 0, 2, 2), 0, green.data(), 8);
  auto buffer = queue->commandBuffer();
  RenderPassDescriptor keep;
  keep.colorAttachments[0].texture = target;
  keep.colorAttachments[0].loadAction = LoadAction::Load;
  auto e = buffer->renderCommandEncoder(keep);
  e->drawPrimitives(PrimitiveType::Triangle, 0, 3);  // no pipeline: dropped
  e->endEncoding();
  buffer->commit();
  buffer->waitUntilCompleted();
  EXPECT_EQ(read(*target), green);

  RenderPassDescriptor clear = keep;
  clear.colorAttachments[0].loadAction = LoadAction::Clear;
  clear.colorAttachments[0].clearColor = {1.0, 0.0, 0.0, 1.0};
  auto b2 = queue->commandBuffer();
  b2->renderCommandEncoder(clear)->endEncoding();
  b2->commit();
  b2->waitUntilCompleted();
  EXPECT_EQ(pixel(read(*target), 2, 1, 1), (Bytes{0, 0, 255, 255}));
}

TEST_P(GpuTest, BufferKeepsItsTexturesAliveUntilDone) {
  auto target = texture(2, 2);
  auto buffer = queue->commandBuffer();
  {
    auto source = filled(1, 1, {10, 20, 30, 255});
    encodePass(*buffer, target, "f_copy", {source}, nullptr);
  }  // the only other reference is gone
  buffer->commit();
  buffer->waitUntilCompleted();
  EXPECT_EQ(pixel(read(*target), 2, 0, 1), (Bytes{10, 20, 30, 255}));
  EXPECT_EQ(buffer->status(), CommandBuffer::Status::Completed);

  auto never = queue->commandBuffer();
  never->waitUntilCompleted();  // not committed: returns at once
  EXPECT_EQ(never->status(), CommandBuffer::Status::NotEnqueued);
}

TEST_P(GpuTest, SeamsFailTheNextObjectsOnly) {
  plat::gpu::testing::failNextCommandBuffers(2);
  EXPECT_EQ(queue->commandBuffer(), nullptr);
  EXPECT_EQ(queue->commandBuffer(), nullptr);
  auto buffer = queue->commandBuffer();
  ASSERT_TRUE(buffer);

  auto target = texture(2, 2);
  RenderPassDescriptor pass;
  pass.colorAttachments[0].texture = target;
  pass.colorAttachments[0].loadAction = LoadAction::Clear;
  pass.colorAttachments[0].clearColor = {0, 0, 1, 1};
  plat::gpu::testing::failNextEncoders(1);
  EXPECT_EQ(buffer->renderCommandEncoder(pass), nullptr);
  auto encoder = buffer->renderCommandEncoder(pass);
  ASSERT_TRUE(encoder);
  encoder->endEncoding();
  buffer->commit();
  buffer->waitUntilCompleted();
  EXPECT_EQ(pixel(read(*target), 2, 0, 0), (Bytes{255, 0, 0, 255}));

  // A pass without a texture has no encoder.
  auto b2 = queue->commandBuffer();
  EXPECT_EQ(b2->renderCommandEncoder(RenderPassDescriptor{}), nullptr);

  // Without a window there is no drawable, seam or not.
  MetalLayer layer;
  layer.setDevice(device);
  EXPECT_EQ(layer.nextDrawable(), nullptr);
}

}  // namespace
}  // namespace gputest
