// Render pipelines: a linked GL program of one vertex and one fragment
// function (library.h) for one BGRA8Unorm colour attachment, without
// blending, depth or stencil. Made by Device::newRenderPipelineState, which
// compiles and links synchronously (a rare operation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/error.h"
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
  // Made by Device only; the program is owned from here on. The functions
  // are kept for the window variant.
  RenderPipelineState(std::shared_ptr<detail::Core> core, std::uint32_t program, std::size_t paramsBlockSize,
                      std::shared_ptr<Function> vertex = nullptr, std::shared_ptr<Function> fragment = nullptr);
  ~RenderPipelineState();
  RenderPipelineState(const RenderPipelineState&) = delete;
  RenderPipelineState& operator=(const RenderPipelineState&) = delete;

  // The program for passes into textures.
  std::uint32_t glProgram() const { return program_; }
  // The program for passes into a window (library.h: the window variant of
  // both functions), linked on first use, for the GL code of this layer; 0
  // when GL refuses it.
  std::uint32_t windowProgram();
  // Where the window program takes the window's height; -1 when it does not.
  int windowHeightLocation() const { return windowHeightLocation_; }
  // Size GL gives the `Params` block (0 when the program has none); the
  // fragment bytes are padded with zeros up to it.
  std::size_t paramsBlockSize() const { return paramsBlockSize_; }

 private:
  std::shared_ptr<detail::Core> core_;
  std::uint32_t program_ = 0;
  std::size_t paramsBlockSize_ = 0;
  std::shared_ptr<Function> vertex_, fragment_;
  std::uint32_t windowProgram_ = 0;
  bool windowFailed_ = false;
  int windowHeightLocation_ = -1;
};

namespace detail {
// Compiles and links the two texts of the functions and binds the samplers
// and the Params block; 0 with *error set on failure (nothing is reported:
// the caller decides). The block's size goes to *paramsBlockSize.
std::uint32_t linkProgram(const Function& vertex, const std::string& vertexText, const Function& fragment,
                          const std::string& fragmentText, std::size_t* paramsBlockSize, std::optional<Error>* error);
}  // namespace detail

}  // namespace plat::gpu
