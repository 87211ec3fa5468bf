// The GL side of the public GPU objects: for each object that holds GL state
// one struct (its GL names, its texel layout, its fence, the overlay's
// uploads), reached through Access, the one way into the objects' private
// constructors and parts. The public headers of platform/gpu only name these
// structs; this header is for the GL code of this layer (the .cpp files of
// platform/gpu) and includes epoxy. The device's context and the state every
// object shares are in core.h; the window surface in window_surface.h.
#pragma once

#include <epoxy/gl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/gpu/command_buffer.h"
#include "platform/gpu/command_queue.h"
#include "platform/gpu/device.h"
#include "platform/gpu/gl/core.h"
#include "platform/gpu/library.h"
#include "platform/gpu/metal_layer.h"
#include "platform/gpu/overlay.h"
#include "platform/gpu/render_command_encoder.h"
#include "platform/gpu/render_pipeline.h"
#include "platform/gpu/texture.h"

namespace plat::gpu::detail {

class WindowSurface;
struct SpareTexture;

// How the texel bytes sit in the GL texture. Bgra: GL_BGRA_EXT internal
// format, red in the red channel. Rgba: GL_RGBA8, red in the red channel.
// SwizzledBgra: GL_RGBA8 holding the memory bytes unchanged (B in the red
// channel), with a texture swizzle so that sampling still yields true red.
enum class TexelStorage : std::uint8_t { Bgra, Rgba, SwizzledBgra };

// A texture's GL name, owned from construction on, or the window surface
// whose back buffer the texture stands for (no name at all).
struct TextureState {
  TextureState(std::shared_ptr<Core> core, GLuint name, TexelStorage storage)
      : core(std::move(core)), name(name), storage(storage) {}
  TextureState(std::shared_ptr<Core> core, std::shared_ptr<WindowSurface> backBufferOf)
      : core(std::move(core)), backBufferOf(std::move(backBufferOf)) {}
  ~TextureState();
  TextureState(const TextureState&) = delete;
  TextureState& operator=(const TextureState&) = delete;

  // A framebuffer with level 0 as colour attachment 0, made on first use; 0
  // when GL refuses it, and for a back buffer.
  GLuint framebuffer();

  std::shared_ptr<Core> core;
  GLuint name = 0;
  TexelStorage storage = TexelStorage::Bgra;
  GLuint levelZeroFramebuffer = 0;
  GLuint levelFramebuffer = 0;  // read-back of levels above 0
  GLint baseLevel = 0;  // GL_TEXTURE_BASE_LEVEL as last set: the level passes sample
  std::shared_ptr<WindowSurface> backBufferOf;
  // Where the texture's storage goes when the texture is released: a
  // loader's spare, if that is still there and empty.
  std::weak_ptr<SpareTexture> spare;
};

// The storage of a picture texture that was released, kept by its loader for
// the next picture of the same size: filled again, it costs no new memory
// for the driver to hand out and clear. At most one, and a load takes it or
// lets it go, so that it never waits for long.
struct SpareTexture {
  TextureDescriptor descriptor;
  std::size_t levels = 0;
  std::unique_ptr<TextureState> state;
};

// A texture of the descriptor's size with the given texel layout, filtering
// and wrapping set; nullptr when GL refuses (out of memory). Checks of size
// and format are the caller's.
std::shared_ptr<Texture> makeTexture(const std::shared_ptr<Core>& core, const TextureDescriptor& descriptor,
                                     TexelStorage storage);

// Uploads h rows of w texels, bytesPerRow apart, into `texture` at level,
// x, y in `format` as given (no channel swap): in one call when the stride
// is whole texels, else a row at a time. Leaves nothing bound.
void uploadRows(GLuint texture, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,
                const std::uint8_t* src, std::size_t bytesPerRow);

// A pipeline's linked program, owned from construction on, and the variant
// for passes into a window, linked when first asked for.
struct PipelineState {
  PipelineState(std::shared_ptr<Core> core, GLuint program, std::size_t paramsBlockSize,
                std::shared_ptr<Function> vertex, std::shared_ptr<Function> fragment)
      : core(std::move(core)),
        program(program),
        paramsBlockSize(paramsBlockSize),
        vertex(std::move(vertex)),
        fragment(std::move(fragment)) {}
  ~PipelineState();
  PipelineState(const PipelineState&) = delete;
  PipelineState& operator=(const PipelineState&) = delete;

  // The program for passes into a window (library.h: the window variant of
  // both functions), linked on first use; 0 when GL refuses it, which the
  // sink hears of once.
  GLuint windowProgram();

  std::shared_ptr<Core> core;
  GLuint program = 0;  // for passes into textures
  // Size GL gives the `Params` block (0 when the program has none); the
  // fragment bytes are padded with zeros up to it.
  std::size_t paramsBlockSize = 0;
  std::shared_ptr<Function> vertex, fragment;  // kept for the window variant
  GLuint linkedWindowProgram = 0;
  bool windowFailed = false;
  // Where the window program takes the window's height; -1 when it does not.
  GLint windowHeightLocation = -1;
};

// Compiles and links the two texts of the functions and binds the samplers
// and the Params block; 0 with *error set on failure (nothing is reported:
// the caller decides). The block's size goes to *paramsBlockSize.
GLuint linkProgram(const Function& vertex, const std::string& vertexText, const Function& fragment,
                   const std::string& fragmentText, std::size_t* paramsBlockSize, std::optional<Error>* error);

// The fence a command buffer places after its commands, deleted with it.
struct Fence {
  Fence(std::shared_ptr<Core> core, GLsync sync) : core(std::move(core)), sync(sync) {}
  ~Fence();
  Fence(const Fence&) = delete;
  Fence& operator=(const Fence&) = delete;

  std::shared_ptr<Core> core;
  GLsync sync;
};

// The overlay's pictures and their GL textures, one per anchor.
struct OverlayState {
  struct Item {
    OverlayImage image;
    int margin = 0;
    bool changed = false;
    GLuint texture = 0;  // 0 before the first upload
    std::size_t textureWidth = 0, textureHeight = 0;
  };

  OverlayState() = default;
  ~OverlayState() { releaseGL(); }
  OverlayState(const OverlayState&) = delete;
  OverlayState& operator=(const OverlayState&) = delete;

  // Blends every picture into the framebuffer bound for drawing, which is
  // width x height pixels, with `core`'s context current. The layer's
  // present calls it between the frame and the swap. GL objects are made on
  // the first call and whenever the context changes; uploads happen only for
  // pictures that changed. A rare failure (no program) draws nothing.
  void drawInto(const std::shared_ptr<Core>& core, int width, int height);
  void releaseGL();
  bool empty() const;

  std::array<Item, kOverlayAnchorCount> items;
  std::shared_ptr<Core> core;  // the context the GL names below belong to
  GLuint program = 0;
};

// The way of the GL code into the public objects: their private
// constructors and the state above.
struct Access {
  template <class T, class... Args>
  static std::shared_ptr<T> make(Args&&... args) {
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...));
  }
  static const std::shared_ptr<Core>& core(const Device& device) { return device.core_; }
  static TextureState& state(const Texture& texture) { return *texture.state_; }
  static PipelineState& state(const RenderPipelineState& pipeline) { return *pipeline.state_; }
  static OverlayState& state(Overlay& overlay) { return *overlay.state_; }
  static const std::string& source(const Function& function) { return function.source(); }
  static std::string windowSource(const Function& function, bool keepY) { return function.windowSource(keepY); }
};

}  // namespace plat::gpu::detail
