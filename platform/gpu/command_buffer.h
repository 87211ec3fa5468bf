// Command buffers: a list of render passes recorded by encoders and of
// drawables to present, executed in order on commit. All GPU work of a
// buffer is issued inside commit(), on the calling thread (the host's main
// thread); waitUntilCompleted() then blocks until the GPU has finished it.
// Textures and pipelines used by the buffer stay alive until it is completed
// or released.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gpu/render_command_encoder.h"
#include "platform/gpu/render_pass.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

class Drawable;
class CommandQueue;

namespace detail {
struct Fence;
}

// Where a buffer is in its life. Not named Status: Xlib defines that as a
// macro, and a file that includes both must not care about their order.
enum class CommandBufferStatus { NotEnqueued, Committed, Completed };

// Made by CommandQueue::commandBuffer.
class CommandBuffer {
 public:
  ~CommandBuffer();
  CommandBuffer(const CommandBuffer&) = delete;
  CommandBuffer& operator=(const CommandBuffer&) = delete;

  // nullptr when the pass has no colour texture, when the buffer was already
  // committed, or when the test seam says so. The previous encoder of the
  // buffer must have ended. An extremely common operation.
  std::shared_ptr<RenderCommandEncoder> renderCommandEncoder(const RenderPassDescriptor& descriptor);
  // The drawable is shown (blitted to its window and swapped) after the
  // passes of this buffer, at commit. nullptr is ignored.
  void presentDrawable(std::shared_ptr<Drawable> drawable);
  // Runs the recorded passes, then the presents, and hands them to the GPU.
  // Once only.
  void commit();
  // Returns when the GPU has finished this buffer (at once when it was never
  // committed). Releases what the buffer kept alive.
  void waitUntilCompleted();

  CommandBufferStatus status() const { return status_; }

 private:
  friend struct detail::Access;
  explicit CommandBuffer(std::shared_ptr<detail::Core> core);
  void releaseResources();

  std::shared_ptr<detail::Core> core_;
  std::vector<std::shared_ptr<detail::RecordedPass>> passes_;
  std::vector<std::weak_ptr<RenderCommandEncoder>> encoders_;
  std::vector<std::shared_ptr<Drawable>> drawables_;
  std::unique_ptr<detail::Fence> fence_;  // placed at commit, waited for at completion
  CommandBufferStatus status_ = CommandBufferStatus::NotEnqueued;
};

// How many committed command buffers have been waited for to completion in
// this process so far. Offscreen frames are waited for, on-screen frames
// are not, so a host can follow an offscreen render's progress by reading
// this from another thread while the render runs. Never decreases.
std::uint64_t completedCommandBufferCount();

}  // namespace plat::gpu
