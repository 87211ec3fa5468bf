// Render pipelines: a linked GL program of one vertex and one fragment
// function (library.h) for one BGRA8Unorm colour attachment, without
// blending, depth or stencil. Made by Device::newRenderPipelineState, which
// compiles and links synchronously (a rare operation).
#pragma once

#include <cstddef>
#include <cstdint>
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

class RenderPipelineState {
 public:
  // Made by Device only; the program is owned from here on.
  RenderPipelineState(std::shared_ptr<detail::Core> core, std::uint32_t program, std::size_t paramsBlockSize,
                      int windowYLocation = -1, int windowHeightLocation = -1);
  ~RenderPipelineState();
  RenderPipelineState(const RenderPipelineState&) = delete;
  RenderPipelineState& operator=(const RenderPipelineState&) = delete;

  std::uint32_t glProgram() const { return program_; }
  // Size GL gives the `Params` block (0 when the program has none); the
  // fragment bytes are padded with zeros up to it.
  std::size_t paramsBlockSize() const { return paramsBlockSize_; }
  // Where the library's wrappers learn that the target is a window (see
  // library.h); -1 when the program does not read it.
  int windowYLocation() const { return windowYLocation_; }
  int windowHeightLocation() const { return windowHeightLocation_; }

 private:
  std::shared_ptr<detail::Core> core_;
  std::uint32_t program_ = 0;
  std::size_t paramsBlockSize_ = 0;
  int windowYLocation_ = -1;
  int windowHeightLocation_ = -1;
};

}  // namespace plat::gpu
