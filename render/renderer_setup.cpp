// Renderer setup: the long-lived GPU objects of a view (device, queue, texture
// loader, the composite and present pipelines, the 1x1 fallback texture), the
// backing layer, and the priming of the playlist and the first effect slot.
// Setup stops quietly at the first missing piece (no device, no shader
// library) and leaves the view able to tick without drawing.
#include <mutex>

#include "host/quelltrine_saver_view.h"
#include "platform/runtime/bundle.h"

namespace quelltrine {

namespace gpu = plat::gpu;

namespace {

std::mutex& overrideMutex() {
  static std::mutex m;
  return m;
}
std::string& bundlePathOverride() {
  static std::string path;
  return path;
}

// The bundle that holds this code: the folder around the module's shared
// object, or the override a test has set.
std::shared_ptr<plat::rt::Bundle> ownBundle() {
  std::string overridePath;
  {
    std::lock_guard lock(overrideMutex());
    overridePath = bundlePathOverride();
  }
  if (!overridePath.empty()) return plat::rt::Bundle::bundleWithPath(overridePath).valueOr(nullptr);
  static const int anchor = 0;
  return plat::rt::Bundle::bundleForAddress(&anchor);
}

std::shared_ptr<gpu::RenderPipelineState> makePipeline(gpu::Device& device, const gpu::Library& library,
                                                       const char* fragmentName,
                                                       const std::vector<gpu::FunctionConstant>& constants = {}) {
  gpu::RenderPipelineDescriptor desc;
  desc.vertexFunction = library.newFunctionWithName("v_fullscreen");
  desc.fragmentFunction = library.newFunctionWithName(fragmentName, constants);
  desc.colorAttachments[0].pixelFormat = gpu::PixelFormat::BGRA8Unorm;
  return device.newRenderPipelineState(desc).valueOr(nullptr);  // the error is dropped
}

}  // namespace

void QuelltrineSaverView::setBundlePathOverride(const std::string& bundlePath) {
  std::lock_guard lock(overrideMutex());
  bundlePathOverride() = bundlePath;
}

std::shared_ptr<plat::ui::Layer> QuelltrineSaverView::makeBackingLayer() {
  auto metalLayer = std::make_shared<gpu::MetalLayer>();
  metalLayer->setPixelFormat(gpu::PixelFormat::BGRA8Unorm);
  metalLayer->setFramebufferOnly(true);
  return metalLayer;
}

void QuelltrineSaverView::setupMetal() {
  device = gpu::createSystemDefaultDevice();
  if (!device) return;
  queue = device->newCommandQueue();
  loader = std::make_shared<gpu::TextureLoader>(device);
  if (auto metalLayer = std::dynamic_pointer_cast<gpu::MetalLayer>(layer())) {
    metalLayer->setDevice(device);
  }

  auto bundle = ownBundle();
  if (!bundle) return;
  auto libraryPath = bundle->URLForResource("default", "glsllib");
  if (!libraryPath) return;
  auto library = device->newLibraryWithPath(*libraryPath).valueOr(nullptr);  // the error is dropped
  if (!library) return;

  compositePSO = makePipeline(*device, *library, "f_composite");
  presentPSO = makePipeline(*device, *library, "f_present");
  // The lean composites: each frame pays only for the terms it can show
  // (see compositeFor).
  if (compositePSO) {
    for (int i = 0; i < 4; ++i) {
      const int relief = (i >> 1) & 1;
      compositeLeanPSO[static_cast<std::size_t>(i)] =
          makePipeline(*device, *library, "f_composite",
                       {{"NEXT_PICTURE", i & 1}, {"RELIEF_EFFECT", relief}, {"MOVING_EFFECT", 1 - relief}});
    }
  }

  auto desc = gpu::TextureDescriptor::texture2D(gpu::PixelFormat::BGRA8Unorm, 1, 1, false);
  desc.usage = gpu::TextureUsage::ShaderRead;
  fallbackTex = device->newTexture(desc);
  if (fallbackTex) {
    fallbackTex->replaceRegion(gpu::Region{{0, 0, 0}, {1, 1, 1}}, 0, kFallbackTexel, 4);
  } else {
    // A device that cannot make a 1x1 texture cannot draw a frame either:
    // leave the renderer incomplete rather than draw with no source.
    compositePSO.reset();
    compositeLeanPSO = {};
    presentPSO.reset();
  }

  loadImageList();
  loadPicturePair();
  pickSlotEffect();
}

}  // namespace quelltrine
