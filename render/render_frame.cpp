// One frame of the view: the parameter step that moves the effect engine to
// the current clock value (slot-independent values, the slot step, the
// cross-fade, the picture advance at the slot's end) and the GPU half, two
// passes into one command buffer: the composite pass writes the current
// scene texture with the previous one as feedback input, the present pass
// draws it into the target. Every failure ends the frame quietly.
#include <algorithm>
#include <cmath>

#include "effects/frame_params.h"
#include "effects/slot_amounts.h"
#include "effects/slots.h"
#include "host/quelltrine_saver_view.h"
#include "host/settings.h"

namespace quelltrine {

namespace gpu = plat::gpu;

void QuelltrineSaverView::renderFrame(const std::shared_ptr<gpu::Texture>& to) {
  // Guard: an incomplete renderer does nothing; only the caller's clock moves.
  if (!queue || !compositePSO || !presentPSO) return;

  writeSlotIndependent(uni, static_cast<float>(t));

  // The slot step; the slot length is read afresh so that a new value from
  // the options window counts from this frame on.
  applySlotStep(uni, slot, t, settings::effectiveInterval());

  // Cross-fade and slot end, with the interval looked up again.
  const double interval = settings::effectiveInterval();
  applyCrossFade(uni, t, slot.slotStart, interval);
  if (slotHasEnded(t, slot.slotStart, interval)) {
    if (texB) texA = texB;
    std::shared_ptr<gpu::Texture> next = loadNextTexture();
    texB = next ? std::move(next) : texA;
    uni.opacB = 0.0f;
    pickSlotEffect();
  }

  encodeFramePasses(to);
}

const std::shared_ptr<gpu::RenderPipelineState>& QuelltrineSaverView::compositeFor(const Uniforms& u) const {
  // The same tests as the shader's: the next picture counts from opacB > 0,
  // each effect from its field > 0, the lens from any value but 0 (NaN
  // counts as 0 on both sides). One slot effect is on at a time, so a
  // relief effect never meets a moving one; if it did, the full build
  // would draw.
  const bool next = u.opacB > 0.0f;
  const bool relief = u.emboss > 0.0f || u.edgeAmt > 0.0f;
  bool moving = false;  // every other slot effect moves the picture
  for (const SlotAmount& a : kSlotAmounts) {
    if (a.member == &Uniforms::emboss || a.member == &Uniforms::edgeAmt) continue;
    const float v = u.*a.member;
    moving = moving || v > 0.0f || (a.member == &Uniforms::lensAmt && v < 0.0f);
  }
  if (relief && moving) return compositePSO;
  const auto& lean = compositeLeanPSO[(next ? 1 : 0) + (relief ? 2 : 0)];
  return lean ? lean : compositePSO;
}

void QuelltrineSaverView::encodeFramePasses(const std::shared_ptr<gpu::Texture>& to) {
  std::shared_ptr<gpu::Drawable> drawable;
  std::shared_ptr<gpu::Texture> target = to;
  if (!target) {
    auto metalLayer = std::dynamic_pointer_cast<gpu::MetalLayer>(layer());
    if (!metalLayer) return;  // not our layer: nothing to draw into
    const auto hostWindow = window();
    const double scale = hostWindow ? hostWindow->backingScaleFactor() : 2.0;
    const plat::ui::Rect b = bounds();
    const double w = std::max(scale * b.size.width, 64.0);
    const double h = std::max(scale * b.size.height, 64.0);
    const plat::ui::Size current = metalLayer->drawableSize();
    if (current.width != w || current.height != h) metalLayer->setDrawableSize({w, h});
    drawable = metalLayer->nextDrawable();
    if (!drawable) return;
    target = drawable->texture();
    if (!target) return;
  }

  // The scene pair follows the target's size; only the first texture is
  // compared. A failed rebuild keeps the old pair, even at the wrong size.
  const std::size_t W = target->width();
  const std::size_t H = target->height();
  bool newScene = false;
  if (sceneTex.size() != 2 || sceneTex[0]->width() != W || sceneTex[0]->height() != H) {
    auto desc = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, W, H, false);
    desc.usage = gpu::TextureUsage::ShaderRead | gpu::TextureUsage::RenderTarget;
    desc.storageMode = gpu::StorageMode::Private;
    auto first = device->newTexture(desc);
    auto second = first ? device->newTexture(desc) : nullptr;
    newScene = first && second;
    if (newScene) sceneTex = {std::move(first), std::move(second)};
  }
  if (sceneTex.size() != 2) return;

  auto commandBuffer = queue->commandBuffer();
  if (!commandBuffer) return;

  const auto& previous = sceneTex[static_cast<std::size_t>(1 - cur)];
  const auto& current = sceneTex[static_cast<std::size_t>(cur)];
  const std::shared_ptr<gpu::Texture>& sourceA = texA ? texA : fallbackTex;
  const std::shared_ptr<gpu::Texture>& sourceB = texB ? texB : sourceA;

  auto pass = [](const std::shared_ptr<gpu::Texture>& attachment) {
    gpu::RenderPassDescriptor d;
    d.colorAttachments[0].texture = attachment;
    d.colorAttachments[0].loadAction = gpu::LoadAction::Clear;
    d.colorAttachments[0].storeAction = gpu::StoreAction::Store;
    d.colorAttachments[0].clearColor = gpu::ClearColor{0.0, 0.0, 0.0, 1.0};
    return d;
  };

  const auto& composite = compositeFor(uni);
  if (auto enc = commandBuffer->renderCommandEncoder(pass(current))) {
    enc->setFragmentTexture(sourceA, 0);
    enc->setFragmentTexture(sourceB, 1);
    enc->setFragmentTexture(previous, 2);
    enc->setFragmentTexture(sourceA, 3);
    enc->setFragmentTexture(sourceA, 4);
    enc->setFragmentBytes(uni.bytes(), Uniforms::byteLength, 0);
    // A driver may compile a pipeline's code at its first draw. With a new
    // scene pair every other lean composite draws once, with this frame's
    // bindings, so that no later frame where a fade or an effect begins
    // waits for it; the frame's own draw, last, covers every pixel. (The
    // full composite draws only in place of a lean one that failed.)
    if (newScene) {
      for (const auto& other : compositeLeanPSO) {
        if (!other || other == composite) continue;
        enc->setRenderPipelineState(other);
        enc->drawPrimitives(gpu::PrimitiveType::Triangle, 0, 3);
      }
    }
    enc->setRenderPipelineState(composite);
    enc->drawPrimitives(gpu::PrimitiveType::Triangle, 0, 3);
    enc->endEncoding();
  }

  if (auto enc = commandBuffer->renderCommandEncoder(pass(target))) {
    enc->setRenderPipelineState(presentPSO);
    enc->setFragmentTexture(current, 0);
    enc->setFragmentBytes(uni.bytes(), Uniforms::byteLength, 0);
    enc->drawPrimitives(gpu::PrimitiveType::Triangle, 0, 3);
    enc->endEncoding();
  }

  if (drawable) commandBuffer->presentDrawable(drawable);
  commandBuffer->commit();
  if (to) commandBuffer->waitUntilCompleted();

  cur = 1 - cur;
}

}  // namespace quelltrine
