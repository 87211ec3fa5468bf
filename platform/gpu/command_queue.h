// Command queues: hand out command buffers of one device. There is one
// context per device, so buffers of every queue of a device run in the order
// in which they are committed.
#pragma once

#include <memory>

#include "platform/gpu/command_buffer.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

// Made by Device::newCommandQueue.
class CommandQueue {
 public:
  // nullptr only when the test seam says so (the sink hears of it). An
  // extremely common operation.
  std::shared_ptr<CommandBuffer> commandBuffer();

 private:
  friend struct detail::Access;
  explicit CommandQueue(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}

  std::shared_ptr<detail::Core> core_;
};

}  // namespace plat::gpu
