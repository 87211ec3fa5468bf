// Small pictures laid over a layer's frames when they are presented: the
// host's frame-rate display or a notice, drawn into the window's back buffer
// after the frame's pixels and before the swap, each at one corner (or the
// centre) of the window and blended over the frame. What they show is the
// engine's business (it renders text into them); the module never sees
// them, and its frame, textures and parameters stay untouched. A layer
// without an overlay does none of this work. Everything runs on the thread
// that presents (the host's main thread).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace plat::gpu {

namespace detail {
class Core;
}

enum class OverlayAnchor { BottomLeft, BottomRight, TopLeft, TopRight, Centre };
inline constexpr std::size_t kOverlayAnchorCount = 5;

// Premultiplied blue, green, red, alpha bytes; rows top to bottom with
// nothing between them.
struct OverlayImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint8_t> pixels;

  bool empty() const { return width == 0 || height == 0; }
};

class Overlay {
 public:
  Overlay();
  ~Overlay();
  Overlay(const Overlay&) = delete;
  Overlay& operator=(const Overlay&) = delete;

  // Shows `image` at `anchor`, `margin` pixels in from the window's edges
  // (the centre ignores it), in place of what was there. An empty image
  // clears the anchor. False, and nothing changed, when the pixel bytes do
  // not match the size.
  bool setImage(OverlayAnchor anchor, OverlayImage image, int margin = 0);
  void clear(OverlayAnchor anchor) { setImage(anchor, OverlayImage{}); }
  bool empty() const;

  // Blends every image into the framebuffer bound for drawing, which is
  // width x height pixels, with `core`'s context current. The layer's
  // present calls it between the frame and the swap. GL objects are made on
  // the first call and whenever the context changes; uploads happen only for
  // images that changed. A rare failure (no program) draws nothing.
  void drawInto(const std::shared_ptr<detail::Core>& core, int width, int height);

 private:
  struct Item {
    OverlayImage image;
    int margin = 0;
    bool changed = false;
    unsigned texture = 0;  // GL name, 0 before the first upload
    std::size_t textureWidth = 0, textureHeight = 0;
  };

  void releaseGL();

  std::array<Item, kOverlayAnchorCount> items_;
  std::shared_ptr<detail::Core> core_;  // the context the GL names below belong to
  unsigned program_ = 0;
};

}  // namespace plat::gpu
