// Render pass descriptors: the one colour attachment a pass draws into, with
// what happens to its contents at the start (load action) and end (store
// action) of the pass. A pass draws into the whole texture: the viewport is
// its full size.
#pragma once

#include <memory>

#include "platform/gpu/texture.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

struct RenderPassColorAttachment {
  std::shared_ptr<Texture> texture;
  LoadAction loadAction = LoadAction::DontCare;
  StoreAction storeAction = StoreAction::DontCare;  // DontCare keeps the contents anyway
  ClearColor clearColor;
};

struct RenderPassDescriptor {
  RenderPassColorAttachment colorAttachments[1];
};

}  // namespace plat::gpu
