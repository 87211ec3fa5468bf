// Render command encoders: record the state changes and draws of one render
// pass into their command buffer. Nothing reaches the GPU here; the commands
// run in order when the buffer is committed. Textures and pipelines named
// here are kept alive by the buffer until its work is done. An extremely
// common operation; recording costs a vector append.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gpu/render_pass.h"
#include "platform/gpu/render_pipeline.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

// Fragment textures 0 .. kMaxFragmentTextures-1 can be bound.
inline constexpr std::size_t kMaxFragmentTextures = 8;

namespace detail {
struct RecordedPass;
}

// Made by CommandBuffer::renderCommandEncoder.
class RenderCommandEncoder {
 public:
  void setRenderPipelineState(std::shared_ptr<RenderPipelineState> state);
  // index < kMaxFragmentTextures; nullptr unbinds.
  void setFragmentTexture(std::shared_ptr<Texture> texture, std::size_t index);
  // Copies `length` bytes now; only buffer index 0 (the `Params` block) exists.
  void setFragmentBytes(const void* bytes, std::size_t length, std::size_t index);
  // A draw without a pipeline is dropped when the pass runs.
  void drawPrimitives(PrimitiveType type, std::size_t vertexStart, std::size_t vertexCount);
  void endEncoding();

  bool ended() const { return ended_; }

 private:
  friend struct detail::Access;
  explicit RenderCommandEncoder(std::shared_ptr<detail::RecordedPass> pass) : pass_(std::move(pass)) {}

  std::shared_ptr<detail::RecordedPass> pass_;
  bool ended_ = false;
};

}  // namespace plat::gpu
