// The device: the one shared device per native display, and the creation of
// queues, textures, libraries and pipelines.
#include "platform/gpu/device.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/error_sink.h"
#include "platform/gpu/gl/objects.h"

namespace plat::gpu {
namespace {

std::mutex deviceMutex;
std::weak_ptr<Device> sharedDevice;
// The context outlives its device while textures or pipelines hold it; a
// new device on the same display must share it, as a second context on
// that display would be torn down with the first (EGL terminates the
// display, which EGL hands out once per native display).
std::weak_ptr<detail::Core> sharedCore;
void* preferredDisplay = nullptr;
bool deviceUnavailable = false;

// A shader's or a program's info log, without its terminating zeros.
template <class GetLength, class GetLog>
std::string infoLog(GLuint object, GetLength getLength, GetLog getLog) {
  GLint length = 0;
  getLength(object, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) getLog(object, length, nullptr, log.data());
  while (!log.empty() && log.back() == '\0') log.pop_back();
  return log;
}

std::string shaderLog(GLuint shader) { return infoLog(shader, glGetShaderiv, glGetShaderInfoLog); }
std::string programLog(GLuint program) { return infoLog(program, glGetProgramiv, glGetProgramInfoLog); }

using plat::detail::report;

Error pipelineError(std::string message) { return Error{ErrorKind::ShaderLibrary, "pipeline", std::move(message), {}}; }

Error textureRefusal(std::string message) { return Error{ErrorKind::Gpu, "texture", std::move(message), {}}; }

// 0 with *error set on failure; the shader is counted while it lives.
GLuint compile(GLenum type, const Function& function, const std::string& text, std::optional<Error>* error) {
  GLuint shader = glCreateShader(type);
  detail::countGLObjects(1);
  const char* source = text.c_str();
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    *error = pipelineError("function '" + function.name() + "' does not compile: " + shaderLog(shader));
    glDeleteShader(shader);
    detail::countGLObjects(-1);
    return 0;
  }
  return shader;
}

}  // namespace

Device::Device(std::shared_ptr<detail::Core> core) : core_(std::move(core)) {}
Device::~Device() = default;

const DeviceLimits& Device::limits() const { return core_->limits(); }

std::shared_ptr<CommandQueue> Device::newCommandQueue() { return detail::Access::make<CommandQueue>(core_); }

std::shared_ptr<Texture> Device::newTexture(const TextureDescriptor& descriptor) {
  const std::size_t maxSize = core_->limits().maxTextureSize;
  if (descriptor.pixelFormat != PixelFormat::BGRA8Unorm) {
    report(textureRefusal("only BGRA8Unorm textures are made"));
    return nullptr;
  }
  if (descriptor.width == 0 || descriptor.height == 0 || descriptor.width > maxSize || descriptor.height > maxSize) {
    report(textureRefusal("a texture of " + std::to_string(descriptor.width) + " x " +
                          std::to_string(descriptor.height) + " is outside 1 ... " + std::to_string(maxSize)));
    return nullptr;
  }
  if (detail::takeSeam(detail::seamTextures)) {
    report(textureRefusal("no texture (a test's fault)"));
    return nullptr;
  }
  using detail::TexelStorage;
  TexelStorage storage = TexelStorage::Bgra;
  if (!core_->bgraRenderable()) {
    // Render targets need true colours in GL; sampled-only textures can keep
    // the bytes as they come and swizzle when sampled.
    storage = (descriptor.usage & TextureUsage::RenderTarget) != 0 ? TexelStorage::Rgba : TexelStorage::SwizzledBgra;
  }
  auto texture = detail::makeTexture(core_, descriptor, storage);
  if (!texture) report(Error{ErrorKind::Gpu, "gl", "GL cannot hold a texture of this size", {}});
  return texture;
}

ErrorOr<std::shared_ptr<Library>> Device::newLibraryWithPath(const std::string& path) {
  auto unreadable = [&path](int code) {
    return report(Error{ErrorKind::ShaderLibrary, "library",
                        std::string("cannot read the shader library: ") + std::strerror(code), path, code});
  };
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return unreadable(errno != 0 ? errno : ENOENT);
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return unreadable(errno != 0 ? errno : EIO);
  auto library = Library::parseQuietly(text.str());
  if (!library) {
    Error failure = library.error();
    failure.message = "malformed shader library: " + failure.message;
    failure.path = path;
    return report(std::move(failure));
  }
  return library;
}

ErrorOr<std::shared_ptr<RenderPipelineState>> Device::newRenderPipelineState(
    const RenderPipelineDescriptor& descriptor) {
  const auto& vertex = descriptor.vertexFunction;
  const auto& fragment = descriptor.fragmentFunction;
  if (!vertex || !fragment) {
    return report(pipelineError(!vertex ? "the pipeline lacks a vertex function"
                                        : "the pipeline lacks a fragment function"));
  }
  if (vertex->stage() != FunctionStage::Vertex || fragment->stage() != FunctionStage::Fragment) {
    return report(pipelineError("a function is bound to the wrong stage"));
  }
  if (descriptor.colorAttachments[0].pixelFormat != PixelFormat::BGRA8Unorm) {
    return report(pipelineError("colour attachment 0 must be BGRA8Unorm"));
  }
  if (!core_->makeCurrent()) {
    return report(Error{ErrorKind::Device, "egl", "the GL context cannot be made current", {}});
  }
  std::size_t blockSize = 0;
  std::optional<Error> linkError;
  using detail::Access;
  const GLuint program = detail::linkProgram(*vertex, Access::source(*vertex), *fragment, Access::source(*fragment),
                                             &blockSize, &linkError);
  if (program == 0) return report(std::move(*linkError));
  return Access::make<RenderPipelineState>(
      std::make_unique<detail::PipelineState>(core_, program, blockSize, vertex, fragment));
}

namespace detail {

GLuint linkProgram(const Function& vertex, const std::string& vertexText, const Function& fragment,
                   const std::string& fragmentText, std::size_t* paramsBlockSize, std::optional<Error>* error) {
  GLuint vs = compile(GL_VERTEX_SHADER, vertex, vertexText, error);
  if (vs == 0) return 0;
  GLuint fs = compile(GL_FRAGMENT_SHADER, fragment, fragmentText, error);
  if (fs == 0) {
    glDeleteShader(vs);
    detail::countGLObjects(-1);
    return 0;
  }
  GLuint program = glCreateProgram();
  detail::countGLObjects(1);
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glLinkProgram(program);
  // The program keeps what it linked; the shader objects are not needed.
  glDetachShader(program, vs);
  glDetachShader(program, fs);
  glDeleteShader(vs);
  glDeleteShader(fs);
  detail::countGLObjects(-2);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked != GL_TRUE) {
    *error = pipelineError("'" + vertex.name() + "' and '" + fragment.name() + "' do not link: " + programLog(program));
    glDeleteProgram(program);
    detail::countGLObjects(-1);
    return 0;
  }

  // Bindings by name, set once: sampler texN reads texture unit N, the
  // Params block reads binding point 0.
  glUseProgram(program);
  for (std::size_t i = 0; i < kMaxFragmentTextures; ++i) {
    const std::string name = "tex" + std::to_string(i);
    const GLint location = glGetUniformLocation(program, name.c_str());
    if (location >= 0) glUniform1i(location, static_cast<GLint>(i));
  }
  glUseProgram(0);
  *paramsBlockSize = 0;
  const GLuint block = glGetUniformBlockIndex(program, "Params");
  if (block != GL_INVALID_INDEX) {
    glUniformBlockBinding(program, block, 0);
    GLint size = 0;
    glGetActiveUniformBlockiv(program, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
    *paramsBlockSize = size > 0 ? static_cast<std::size_t>(size) : 0;
  }
  return program;
}

}  // namespace detail

RenderPipelineState::RenderPipelineState(std::unique_ptr<detail::PipelineState> state) : state_(std::move(state)) {}
RenderPipelineState::~RenderPipelineState() = default;

namespace detail {

GLuint PipelineState::windowProgram() {
  if (linkedWindowProgram != 0 || windowFailed || !vertex || !fragment) return linkedWindowProgram;
  const bool keepY = !core->clipControl();
  std::size_t blockSize = 0;
  std::optional<Error> linkError;
  linkedWindowProgram = linkProgram(*vertex, Access::windowSource(*vertex, keepY), *fragment,
                                    Access::windowSource(*fragment, keepY), &blockSize, &linkError);
  windowFailed = linkedWindowProgram == 0;
  // Reported once: the pipeline cannot draw into a window.
  if (windowFailed) report(std::move(*linkError));
  if (linkedWindowProgram != 0)
    windowHeightLocation = glGetUniformLocation(linkedWindowProgram, "quelltrine_windowHeight");
  return linkedWindowProgram;
}

PipelineState::~PipelineState() {
  if (!core->makeCurrent()) return;
  glDeleteProgram(program);
  countGLObjects(-1);
  if (linkedWindowProgram != 0) {
    glDeleteProgram(linkedWindowProgram);
    countGLObjects(-1);
  }
}

}  // namespace detail

std::shared_ptr<Device> createSystemDefaultDevice() {
  std::optional<Error> failure;
  std::shared_ptr<Device> device;
  {
    std::lock_guard<std::mutex> lock(deviceMutex);
    if (deviceUnavailable) {
      failure = Error{ErrorKind::Device, "egl", "made unavailable for a test", {}};
    } else if (auto live = sharedDevice.lock();
               live && detail::Access::core(*live)->egl().nativeDisplay() == preferredDisplay) {
      device = std::move(live);
    } else {
      auto core = sharedCore.lock();
      if (!core || core->egl().nativeDisplay() != preferredDisplay) {
        auto created = detail::Core::create(preferredDisplay);
        if (created) {
          core = std::move(created).value();
        } else {
          failure = created.error();
        }
      }
      if (core) {
        sharedCore = core;
        device = detail::Access::make<Device>(std::move(core));
        sharedDevice = device;
      }
    }
  }
  // Told outside the lock: the sink may create a device itself.
  if (failure) {
    failure->message = "no GPU device: " + failure->message;
    report(std::move(*failure));
  }
  return device;
}

void setPreferredNativeDisplay(void* x11Display) {
  std::lock_guard<std::mutex> lock(deviceMutex);
  preferredDisplay = x11Display;
}

void testing::setSystemDeviceUnavailable(bool unavailable) {
  std::lock_guard<std::mutex> lock(deviceMutex);
  deviceUnavailable = unavailable;
}

}  // namespace plat::gpu
