// Life cycle of the view under the host engine: the two initialisers, the
// tick, start and stop, drawing, and the glue to the playlist and the slot
// draw. The view keeps no flag of its own for the animation state; the base
// class does. It never reads a real clock: `t` counts nominal seconds.
#include "host/quelltrine_saver_view.h"

#include "host/settings.h"
#include "playlist/image_list.h"
#include "playlist/texture_loading.h"

namespace quelltrine {

QuelltrineSaverView::QuelltrineSaverView(const plat::ui::Rect& frame, bool isPreview)
    : plat::ui::ScreenSaverView(frame, isPreview) {}

QuelltrineSaverView::QuelltrineSaverView(const plat::ui::Coder& coder) : plat::ui::ScreenSaverView(coder) {}

void QuelltrineSaverView::setUp() {
  setAnimationTimeInterval(1.0 / 30.0);
  setWantsLayer(true);  // the layer comes from makeBackingLayer
  setupMetal();
}

std::shared_ptr<QuelltrineSaverView> QuelltrineSaverView::initWithFrame(const plat::ui::Rect& frame,
                                                                         bool isPreview) {
  auto view = std::make_shared<QuelltrineSaverView>(frame, isPreview);
  view->setUp();
  return view;
}

std::shared_ptr<QuelltrineSaverView> QuelltrineSaverView::initWithCoder(const plat::ui::Coder& coder) {
  if (!plat::ui::ScreenSaverView::canDecode(coder)) return nullptr;
  auto view = std::make_shared<QuelltrineSaverView>(coder);
  view->setUp();
  return view;
}

void QuelltrineSaverView::animateOneFrame() {
  t += animationTimeInterval();
  renderFrame(nullptr);
}

void QuelltrineSaverView::drawRect(const plat::ui::Rect& /*rect*/) {
  // What the user sees comes only from the GPU layer.
}

std::string QuelltrineSaverView::imageFolder() const { return settings::imageFolderPath(); }

void QuelltrineSaverView::loadImageList() { quelltrine::loadImageList(playlist, imageFolder(), *rng); }

std::shared_ptr<plat::gpu::Texture> QuelltrineSaverView::loadNextTexture() {
  return quelltrine::loadNextTexture(playlist, loader.get(), bounds().size, *rng);
}

void QuelltrineSaverView::loadPicturePair() {
  std::shared_ptr<plat::gpu::Texture> first = loadNextTexture();
  texA = first ? std::move(first) : fallbackTex;
  std::shared_ptr<plat::gpu::Texture> second = loadNextTexture();
  texB = second ? std::move(second) : texA;
}

void QuelltrineSaverView::pickSlotEffect() { quelltrine::pickSlotEffect(slot, t, *rng); }

}  // namespace quelltrine
