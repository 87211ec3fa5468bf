// Command recording and execution: encoders append commands to a pass of
// their buffer; commit replays the passes in GL in order (a pass into a
// drawable of the window's size draws straight into the window's back
// buffer), presents the drawables and places a fence that
// waitUntilCompleted waits for.
#include "platform/gpu/command_buffer.h"

#include <atomic>
#include <cassert>
#include <cstring>

#include "platform/gpu/command_queue.h"
#include "platform/gpu/gl/objects.h"
#include "platform/gpu/metal_layer.h"
#include "platform/gpu/gl/window_surface.h"

namespace plat::gpu {

namespace detail {

struct Command {
  enum class Kind : std::uint8_t { Pipeline, Texture, Bytes, Draw };
  explicit Command(Kind k) : kind(k) {}
  Kind kind;
  std::shared_ptr<RenderPipelineState> pipeline;
  std::shared_ptr<Texture> texture;
  std::vector<std::uint8_t> bytes;
  std::size_t index = 0;
  PrimitiveType primitive = PrimitiveType::Triangle;
  std::size_t start = 0, count = 0;
};

struct RecordedPass {
  RenderPassDescriptor descriptor;
  std::vector<Command> commands;
};

namespace {

GLenum glPrimitive(PrimitiveType type) {
  switch (type) {
    case PrimitiveType::Point: return GL_POINTS;
    case PrimitiveType::Line: return GL_LINES;
    case PrimitiveType::LineStrip: return GL_LINE_STRIP;
    case PrimitiveType::Triangle: return GL_TRIANGLES;
    case PrimitiveType::TriangleStrip: return GL_TRIANGLE_STRIP;
  }
  return GL_TRIANGLES;
}

// Binds the pass's target: a texture's framebuffer, or a window's back
// buffer (framebuffer 0 of its surface), turned so that the target's top row
// is the window's top row. False when neither can be had.
bool bindTarget(Core& core, const Texture& texture) {
  TextureState& gl = Access::state(texture);
  if (WindowSurface* window = gl.backBufferOf.get()) {
    if (!window->makeCurrent()) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (core.clipControl()) glClipControlEXT(GL_UPPER_LEFT_EXT, GL_NEGATIVE_ONE_TO_ONE_EXT);
    return true;
  }
  const GLuint framebuffer = gl.framebuffer();
  if (framebuffer == 0) return false;
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  return true;
}

// The level of a mipmapped texture that a pass into `target` samples: the
// smallest that is still at least the target's size on both sides. A
// picture far larger than the screen is read from a level of about the
// screen's size, so neighbouring pixels read neighbouring texels (a
// software rasteriser's cache wants that); filtering stays bilinear within
// that one level.
GLint sampledLevel(const Texture& texture, const Texture& target) {
  GLint level = 0;
  const std::size_t last = texture.mipmapLevelCount() - 1;
  while (static_cast<std::size_t>(level) < last && (texture.width() >> (level + 1)) >= target.width() &&
         (texture.height() >> (level + 1)) >= target.height())
    ++level;
  return level;
}

void runPass(Core& core, const RecordedPass& pass) {
  const RenderPassColorAttachment& target = pass.descriptor.colorAttachments[0];
  if (!bindTarget(core, *target.texture)) return;
  const bool toWindow = Access::state(*target.texture).backBufferOf != nullptr;
  glViewport(0, 0, static_cast<GLsizei>(target.texture->width()), static_cast<GLsizei>(target.texture->height()));
  if (target.loadAction == LoadAction::Clear) {
    glClearColor(static_cast<GLfloat>(target.clearColor.red), static_cast<GLfloat>(target.clearColor.green),
                 static_cast<GLfloat>(target.clearColor.blue), static_cast<GLfloat>(target.clearColor.alpha));
    glClear(GL_COLOR_BUFFER_BIT);
  }

  PipelineState* pipeline = nullptr;
  const Texture* textures[kMaxFragmentTextures] = {};
  const std::vector<std::uint8_t>* params = nullptr;
  std::vector<std::uint8_t> padded;
  glBindVertexArray(core.emptyVertexArray());
  for (const Command& c : pass.commands) {
    switch (c.kind) {
      case Command::Kind::Pipeline: pipeline = c.pipeline ? &Access::state(*c.pipeline) : nullptr; break;
      case Command::Kind::Texture: textures[c.index] = c.texture.get(); break;
      case Command::Kind::Bytes: params = &c.bytes; break;
      case Command::Kind::Draw: {
        if (pipeline == nullptr || c.count == 0) break;  // nothing to draw with: dropped
        if (!toWindow) {
          glUseProgram(pipeline->program);
        } else {
          const GLuint program = pipeline->windowProgram();
          if (program == 0) break;  // dropped like a draw without a pipeline
          glUseProgram(program);
          if (pipeline->windowHeightLocation >= 0)
            glUniform1f(pipeline->windowHeightLocation, static_cast<GLfloat>(target.texture->height()));
        }
        for (std::size_t i = 0; i < kMaxFragmentTextures; ++i) {
          glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
          if (textures[i] == nullptr) {
            glBindTexture(GL_TEXTURE_2D, 0);
            continue;
          }
          TextureState& bound = Access::state(*textures[i]);
          glBindTexture(GL_TEXTURE_2D, bound.name);
          // Set only when it changes: a texture parameter makes the driver
          // revalidate the texture, and a frame binds the same ones again.
          if (const GLint level = sampledLevel(*textures[i], *target.texture); level != bound.baseLevel) {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, level);
            bound.baseLevel = level;
          }
        }
        if (pipeline->paramsBlockSize > 0) {
          // GL reads the whole block: bytes beyond what was set are zero.
          // The usual case, a whole block set, goes up without a copy.
          const std::size_t size = pipeline->paramsBlockSize;
          const std::uint8_t* data = params != nullptr && params->size() >= size ? params->data() : nullptr;
          if (data == nullptr) {
            padded.assign(size, 0);
            if (params != nullptr) std::memcpy(padded.data(), params->data(), params->size());
            data = padded.data();
          }
          glBindBuffer(GL_UNIFORM_BUFFER, core.paramsBuffer());
          // A fresh store each draw: the driver orphans the old one rather
          // than waiting for the draws that still read it.
          glBufferData(GL_UNIFORM_BUFFER, static_cast<GLsizeiptr>(size), data, GL_STREAM_DRAW);
          glBindBufferBase(GL_UNIFORM_BUFFER, 0, core.paramsBuffer());
        }
        glDrawArrays(glPrimitive(c.primitive), static_cast<GLint>(c.start), static_cast<GLsizei>(c.count));
        break;
      }
    }
  }
  glBindVertexArray(0);
  glUseProgram(0);
  for (std::size_t i = 0; i < kMaxFragmentTextures; ++i) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  glActiveTexture(GL_TEXTURE0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  // Whatever draws into the window after the pass finds GL's own origin.
  if (toWindow && core.clipControl()) glClipControlEXT(GL_LOWER_LEFT_EXT, GL_NEGATIVE_ONE_TO_ONE_EXT);
}

}  // namespace
}  // namespace detail

namespace {
std::atomic<std::uint64_t> completedBuffers{0};
}  // namespace

// Encoder ------------------------------------------------------------------

void RenderCommandEncoder::setRenderPipelineState(std::shared_ptr<RenderPipelineState> state) {
  assert(!ended_);
  detail::Command c(detail::Command::Kind::Pipeline);
  c.pipeline = std::move(state);
  pass_->commands.push_back(std::move(c));
}

void RenderCommandEncoder::setFragmentTexture(std::shared_ptr<Texture> texture, std::size_t index) {
  assert(!ended_ && index < kMaxFragmentTextures);
  if (index >= kMaxFragmentTextures) return;
  detail::Command c(detail::Command::Kind::Texture);
  c.texture = std::move(texture);
  c.index = index;
  pass_->commands.push_back(std::move(c));
}

void RenderCommandEncoder::setFragmentBytes(const void* bytes, std::size_t length, std::size_t index) {
  assert(!ended_ && index == 0);
  if (index != 0) return;
  detail::Command c(detail::Command::Kind::Bytes);
  const auto* b = static_cast<const std::uint8_t*>(bytes);
  c.bytes.assign(b, b + length);
  pass_->commands.push_back(std::move(c));
}

void RenderCommandEncoder::drawPrimitives(PrimitiveType type, std::size_t vertexStart, std::size_t vertexCount) {
  assert(!ended_);
  detail::Command c(detail::Command::Kind::Draw);
  c.primitive = type;
  c.start = vertexStart;
  c.count = vertexCount;
  pass_->commands.push_back(std::move(c));
}

void RenderCommandEncoder::endEncoding() {
  assert(!ended_);
  ended_ = true;
}

// Command buffer -----------------------------------------------------------

CommandBuffer::CommandBuffer(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}

CommandBuffer::~CommandBuffer() = default;

detail::Fence::~Fence() {
  if (core->makeCurrent()) {
    glDeleteSync(sync);
    countGLObjects(-1);
  }
}

std::shared_ptr<RenderCommandEncoder> CommandBuffer::renderCommandEncoder(const RenderPassDescriptor& descriptor) {
  assert(status_ == CommandBufferStatus::NotEnqueued);
  assert(encoders_.empty() || encoders_.back().expired() || encoders_.back().lock()->ended());
  if (status_ != CommandBufferStatus::NotEnqueued || !descriptor.colorAttachments[0].texture) return nullptr;
  if (detail::takeSeam(detail::seamEncoders)) return detail::refuse("encoder", "no encoder (a test's fault)");
  auto pass = std::make_shared<detail::RecordedPass>();
  pass->descriptor = descriptor;
  pass->commands.reserve(8);  // a frame's pass: pipeline, a few textures, bytes, draw
  passes_.push_back(pass);
  auto encoder = detail::Access::make<RenderCommandEncoder>(std::move(pass));
  encoders_.push_back(encoder);
  return encoder;
}

void CommandBuffer::presentDrawable(std::shared_ptr<Drawable> drawable) {
  assert(status_ == CommandBufferStatus::NotEnqueued);
  if (drawable && status_ == CommandBufferStatus::NotEnqueued) drawables_.push_back(std::move(drawable));
}

void CommandBuffer::commit() {
  assert(status_ == CommandBufferStatus::NotEnqueued);
#ifndef NDEBUG
  for (const auto& weak : encoders_) {
    const auto encoder = weak.lock();
    assert(!encoder || encoder->ended());  // every encoder ends before commit
  }
#endif
  if (status_ != CommandBufferStatus::NotEnqueued) return;
  status_ = CommandBufferStatus::Committed;
  if (!core_->makeCurrent()) {
    // No context: nothing can run; the buffer counts as done.
    status_ = CommandBufferStatus::Completed;
    releaseResources();
    return;
  }
  for (const auto& pass : passes_) detail::runPass(*core_, *pass);
  for (const auto& drawable : drawables_) drawable->present();
  core_->makeCurrent();
  if (const GLsync sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0); sync != nullptr) {
    fence_ = std::make_unique<detail::Fence>(core_, sync);
    detail::countGLObjects(1);
  }
  glFlush();
}

void CommandBuffer::waitUntilCompleted() {
  if (status_ != CommandBufferStatus::Committed) return;
  if (fence_ && core_->makeCurrent()) {
    const GLsync sync = fence_->sync;
    constexpr GLuint64 kOneSecond = 1000000000;
    GLenum result = glClientWaitSync(sync, GL_SYNC_FLUSH_COMMANDS_BIT, kOneSecond);
    while (result == GL_TIMEOUT_EXPIRED) result = glClientWaitSync(sync, 0, kOneSecond);
    if (result == GL_WAIT_FAILED) glFinish();
  } else if (core_->makeCurrent()) {
    glFinish();
  }
  status_ = CommandBufferStatus::Completed;
  releaseResources();
  completedBuffers.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t completedCommandBufferCount() { return completedBuffers.load(std::memory_order_relaxed); }

void CommandBuffer::releaseResources() {
  passes_.clear();
  drawables_.clear();
}

// Queue --------------------------------------------------------------------

std::shared_ptr<CommandBuffer> CommandQueue::commandBuffer() {
  if (detail::takeSeam(detail::seamCommandBuffers)) {
    return detail::refuse("queue", "no command buffer (a test's fault)");
  }
  return detail::Access::make<CommandBuffer>(core_);
}

}  // namespace plat::gpu
