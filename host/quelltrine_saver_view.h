// QuelltrineSaverView: the module's one class and its whole interface to the
// host engine. It owns every object of a running saver: the GPU objects, the
// picture pair, the play order, the effect state and the options window's
// controls. Its steps live beside the subsystem they belong to:
//   render/renderer_setup.cpp   makeBackingLayer, setupMetal
//   render/render_frame.cpp     renderFrame (parameter step and frame passes)
//   render/offscreen_png.cpp    debugRenderPNG
//   host/quelltrine_saver_view.cpp  life cycle, ticks, playlist glue
//   host/options_sheet.cpp      configureSheet, chooseFolder, closeSheet
// The fields are public so that the engine's diagnostics and the tests can
// read them; only the view's own steps write them. Everything runs on the
// host's main thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effects/slots.h"
#include "effects/uniforms.h"
#include "platform/gpu/gpu.h"
#include "platform/ui/screen_saver_view.h"
#include "platform/ui/controls.h"
#include "playlist/playlist.h"

namespace quelltrine {

class QuelltrineSaverView : public plat::ui::ScreenSaverView {
 public:
  // The two initialisers. nullptr when the base class refuses.
  static std::shared_ptr<QuelltrineSaverView> initWithFrame(const plat::ui::Rect& frame, bool isPreview);
  static std::shared_ptr<QuelltrineSaverView> initWithCoder(const plat::ui::Coder& coder);

  // Host operations. startAnimation and stopAnimation are the base class's:
  // they reset nothing here.
  std::shared_ptr<plat::ui::Layer> makeBackingLayer() override;
  void animateOneFrame() override;
  void drawRect(const plat::ui::Rect& rect) override;
  bool hasConfigureSheet() const override;
  std::shared_ptr<plat::ui::Window> configureSheet() override;

  // Options window actions (reachable by selector).
  void chooseFolder();
  void closeSheet();

  // Diagnostic: renders `frames` frames (at least one) offscreen at 1280x800
  // and writes the last to a PNG file. True when the file was written.
  bool debugRenderPNG(const std::string& path, std::int64_t frames);

  // The image folder as resolved from the preferences, at every call.
  std::string imageFolder() const;

  // One frame: the parameter step, then the passes into `to` (offscreen,
  // waited for) or into the layer's next drawable when `to` is null.
  void renderFrame(const std::shared_ptr<plat::gpu::Texture>& to);

  // Playlist steps.
  void loadImageList();
  std::shared_ptr<plat::gpu::Texture> loadNextTexture();
  // The first two pictures of a fresh play order: texA takes the first or
  // the fallback texture, texB the second or texA (setup and a new folder).
  void loadPicturePair();
  void pickSlotEffect();
  // The composite pipeline for a frame with these parameters: the lean one
  // that leaves out only terms whose weight is 0, else compositePSO.
  const std::shared_ptr<plat::gpu::RenderPipelineState>& compositeFor(const Uniforms& u) const;

  // ---- stored fields, in declaration order ----
  std::shared_ptr<plat::gpu::Device> device;
  std::shared_ptr<plat::gpu::CommandQueue> queue;
  std::shared_ptr<plat::gpu::RenderPipelineState> compositePSO;
  std::shared_ptr<plat::gpu::RenderPipelineState> presentPSO;
  // compositePSO built without terms that a frame cannot show, by index:
  // +1 with the next picture; +2 with the relief effects (emboss, edges)
  // but without the moving ones, else the other way round. Empty where it
  // failed to build.
  std::array<std::shared_ptr<plat::gpu::RenderPipelineState>, 4> compositeLeanPSO;
  std::vector<std::shared_ptr<plat::gpu::Texture>> sceneTex;
  std::int64_t cur = 0;
  Uniforms uni;
  Playlist playlist;  // imageURLs, order, orderPos
  std::shared_ptr<plat::gpu::Texture> texA;
  std::shared_ptr<plat::gpu::Texture> texB;
  std::shared_ptr<plat::gpu::Texture> fallbackTex;
  std::shared_ptr<plat::gpu::TextureLoader> loader;
  double t = 0.0;
  SlotState slot;  // slotStart, slotEffect, slotMirror
  plat::sys::RandomSource* rng = &plat::sys::systemRandom();
  std::shared_ptr<plat::ui::Window> sheet;
  std::shared_ptr<plat::ui::TextField> folderLabel;
  std::shared_ptr<plat::ui::Slider> intervalSlider;

  // The fallback texel, bytes in B, G, R, A order: an opaque dark violet.
  static constexpr std::uint8_t kFallbackTexel[4] = {0x50, 0x00, 0x28, 0xFF};
  static constexpr int kOffscreenWidth = 1280;
  static constexpr int kOffscreenHeight = 800;

  // Where the shader library is looked up: the bundle that holds this code.
  // Tests, which link the module code into their own executable, point it at
  // a bundle folder of their choosing; an empty path restores the default.
  static void setBundlePathOverride(const std::string& bundlePath);

  QuelltrineSaverView(const plat::ui::Rect& frame, bool isPreview);
  explicit QuelltrineSaverView(const plat::ui::Coder& coder);

 private:
  void setUp();
  void setupMetal();
  void encodeFramePasses(const std::shared_ptr<plat::gpu::Texture>& to);
};

}  // namespace quelltrine
