// The GPU device: one OpenGL ES 3 context on one display, and the factory
// for queues, textures, libraries and pipelines. Without a preferred X
// display the device is headless (no window system at all); with one it is
// on that X display so that layers can draw into windows. Limits are read
// once at creation. The context and display are torn down when the device
// and every object made from it are released. The objects of this layer are
// made by the device (and the layer, the loader) only: their constructors
// are private, and how they are backed is not part of these headers.
//
// All GPU work of this layer happens on the thread that uses the objects
// (the host's main thread); the context is made current there as needed.
// Failures are plat::Error values (platform/error.h); the error sink hears
// of each, also of those whose operation answers with a plain nullptr.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/gpu/command_queue.h"
#include "platform/gpu/library.h"
#include "platform/gpu/render_pipeline.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

struct DeviceLimits {
  std::size_t maxTextureSize = 0;  // largest width or height of a texture
  std::string rendererName;        // the driver's, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)"
};

class Device {
 public:
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  std::shared_ptr<CommandQueue> newCommandQueue();
  // nullptr for a size of 0 or above maxTextureSize, a format other than
  // BGRA8Unorm, when the GPU runs out of memory, or when the test seam says
  // so; the sink hears why (kind Gpu).
  std::shared_ptr<Texture> newTexture(const TextureDescriptor& descriptor);
  // Reads and parses a library file (library.h); an Error of kind
  // ShaderLibrary naming the file when it is unreadable or malformed.
  ErrorOr<std::shared_ptr<Library>> newLibraryWithPath(const std::string& path);
  // Compiles and links; an Error of kind ShaderLibrary (with the compiler's
  // log) when a function is missing or of the wrong stage, the colour format
  // is not BGRA8Unorm, or the driver refuses the sources. A rare operation.
  ErrorOr<std::shared_ptr<RenderPipelineState>> newRenderPipelineState(const RenderPipelineDescriptor& descriptor);
  const DeviceLimits& limits() const;

 private:
  friend struct detail::Access;
  explicit Device(std::shared_ptr<detail::Core> core);

  std::shared_ptr<detail::Core> core_;
};

// nullptr when no display with an OpenGL ES 3 context can be had; the sink
// then hears an Error of kind Device naming the call that failed and why.
// Every caller gets the same live device while one exists for the current
// preferred display, so that views share one context.
std::shared_ptr<Device> createSystemDefaultDevice();

// The X11 Display* (as void*) that later devices use, or nullptr for
// headless. Call before creating views.
void setPreferredNativeDisplay(void* x11Display);

// Seams for tests: fault injection. The seams that reach into the backing
// (its extensions, its live objects) are in gl/testing.h.
namespace testing {
void setSystemDeviceUnavailable(bool unavailable);
void failNextCommandBuffers(int n);
void failNextEncoders(int n);
void failNextTextures(int n);
}  // namespace testing

}  // namespace plat::gpu
