// Small pictures laid over a layer's frames when they are presented: the
// host's frame-rate display or a notice, drawn into the window's back buffer
// after the frame's pixels and before the swap, each at one corner (or the
// centre) of the window and blended over the frame. What they show is the
// engine's business (it renders text into them); the module never sees
// them, and its frame, textures and parameters stay untouched. A layer
// without an overlay does none of this work. Everything runs on the thread
// that presents (the host's main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gpu/types.h"

namespace plat::gpu {

namespace detail {
struct OverlayState;
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

 private:
  friend struct detail::Access;
  // The pictures and what the backing made of them; the layer's present
  // draws them (gl/objects.h).
  std::unique_ptr<detail::OverlayState> state_;
};

}  // namespace plat::gpu
