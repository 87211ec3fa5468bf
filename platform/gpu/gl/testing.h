// The test seams that reach into the backing: devices that pretend the
// driver lacks an extension, and the count of the backing's objects alive.
// For tests that check the backing itself; they include this on purpose.
// Needs no GL header, so a test can include it. The seams that fail an
// object whatever backs it are in device.h.
#pragma once

#include <cstddef>

namespace plat::gpu::testing {

// Devices created from now on act as if GL had no BGRA texture, upload or
// read-back extension, to exercise the RGBA fallbacks.
void pretendNoBgraExtensions(bool pretend);
// Devices created from now on act as if GL had no EXT_clip_control, so that
// passes into windows take the vertex wrapper's way to turn y over.
void pretendNoClipControl(bool pretend);
// Textures, framebuffers, programs, shaders, buffers, vertex arrays and
// fences made by this layer and not yet deleted.
std::size_t liveGLObjectCount();

}  // namespace plat::gpu::testing
