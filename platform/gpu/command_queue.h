// Command queues: hand out command buffers of one device. There is one GL
// context per device, so buffers of every queue of a device run in the order
// in which they are committed.
#pragma once

#include <memory>

#include "platform/gpu/command_buffer.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

class CommandQueue {
 public:
  explicit CommandQueue(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
  // nullptr only when the test seam says so (the sink hears of it). An
  // extremely common operation.
  std::shared_ptr<CommandBuffer> commandBuffer();

 private:
  std::shared_ptr<detail::Core> core_;
};

}  // namespace plat::gpu
