// The base of a view's backing layer. A layer-backed view obtains its layer
// from its makeBackingLayer factory; the engine tells the layer which native
// window it draws into (or none) through setNativeWindow. The GPU layer
// (plat::gpu::MetalLayer) derives from this.
#pragma once

namespace plat::ui {

// An X11 window the layer draws into: the Display* (as void*, so that module
// code needs no X11 header) and the window id. display == nullptr: no window.
struct NativeWindowHandle {
  void* display = nullptr;
  unsigned long window = 0;
  bool valid() const { return display != nullptr && window != 0; }
};

class Layer {
 public:
  virtual ~Layer() = default;
  // Called by the view when its host window changes; the default ignores it.
  virtual void setNativeWindow(const NativeWindowHandle& /*handle*/) {}
};

}  // namespace plat::ui
