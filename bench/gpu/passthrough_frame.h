// The baseline GPU frame: the renderer's two-pass shape with trivial shaders.
// A composite pass samples five textures (picture A, picture B, the previous
// scene, A, A) and the 196-byte parameter block and writes a scene texture; a
// present pass copies the scene into the target. Offscreen, one command
// buffer per frame, waited for. Other benchmarks run it in the same process
// to compare their frames against it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/gpu/gpu.h"

namespace quelltrine::bench {

class PassthroughFrame {
 public:
  // nullptr with *error when the device cannot make the textures or
  // pipelines.
  static std::unique_ptr<PassthroughFrame> create(std::shared_ptr<plat::gpu::Device> device, std::size_t width,
                                                  std::size_t height, std::string* error = nullptr);
  // Encodes, commits and waits for one frame; false when a command buffer or
  // encoder is refused.
  bool render();
  const std::shared_ptr<plat::gpu::Texture>& target() const { return target_; }

 private:
  PassthroughFrame() = default;
  std::shared_ptr<plat::gpu::Device> device_;
  std::shared_ptr<plat::gpu::CommandQueue> queue_;
  std::shared_ptr<plat::gpu::RenderPipelineState> composite_, present_;
  std::shared_ptr<plat::gpu::Texture> pictureA_, pictureB_, scene_[2], target_;
  float params_[49] = {};
  int cur_ = 0;
};

// The baseline as a benchmark: Args(width, height); ms per frame, fps.
void BM_PassthroughFrame(benchmark::State& state);

}  // namespace quelltrine::bench
