// Render pipelines: one vertex and one fragment function (library.h)
// compiled and linked together for one BGRA8Unorm colour attachment, without
// blending, depth or stencil. Made by Device::newRenderPipelineState, which
// compiles and links synchronously (a rare operation); the linked program
// and the variant for passes into a window are the backing's (gl/objects.h).
#pragma once

#include <memory>

#include "platform/gpu/library.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

struct RenderPipelineColorAttachment {
  PixelFormat pixelFormat = PixelFormat::Invalid;
};

struct RenderPipelineDescriptor {
  std::shared_ptr<Function> vertexFunction, fragmentFunction;
  RenderPipelineColorAttachment colorAttachments[1];
};

namespace detail {
struct PipelineState;
}

class RenderPipelineState {
 public:
  ~RenderPipelineState();
  RenderPipelineState(const RenderPipelineState&) = delete;
  RenderPipelineState& operator=(const RenderPipelineState&) = delete;

 private:
  friend struct detail::Access;
  explicit RenderPipelineState(std::unique_ptr<detail::PipelineState> state);

  std::unique_ptr<detail::PipelineState> state_;
};

}  // namespace plat::gpu
