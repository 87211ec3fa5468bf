// The device: the one shared device per native display, and the creation of
// queues, textures, libraries and pipelines.
#include "platform/gpu/device.h"

#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/gpu/gl_core.h"

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

// 0 with *error set on failure; the shader is counted while it lives.
GLuint compile(GLenum type, const Function& function, const std::string& text, std::string* error) {
  GLuint shader = glCreateShader(type);
  detail::countGLObjects(1);
  const char* source = text.c_str();
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    if (error) *error = "function '" + function.name() + "' does not compile: " + shaderLog(shader);
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

std::shared_ptr<CommandQueue> Device::newCommandQueue() { return std::make_shared<CommandQueue>(core_); }

std::shared_ptr<Texture> Device::newTexture(const TextureDescriptor& descriptor) {
  const std::size_t maxSize = core_->limits().maxTextureSize;
  if (descriptor.pixelFormat != PixelFormat::BGRA8Unorm || descriptor.width == 0 || descriptor.height == 0 ||
      descriptor.width > maxSize || descriptor.height > maxSize)
    return nullptr;
  if (detail::takeSeam(detail::seamTextures)) return nullptr;
  using detail::TexelStorage;
  TexelStorage storage = TexelStorage::Bgra;
  if (!core_->bgraRenderable()) {
    // Render targets need true colours in GL; sampled-only textures can keep
    // the bytes as they come and swizzle when sampled.
    storage = (descriptor.usage & TextureUsage::RenderTarget) != 0 ? TexelStorage::Rgba : TexelStorage::SwizzledBgra;
  }
  return detail::makeTexture(core_, descriptor, storage);
}

std::shared_ptr<Library> Device::newLibraryWithPath(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = "cannot read shader library " + path;
    return nullptr;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    if (error) *error = "cannot read shader library " + path;
    return nullptr;
  }
  std::string parseError;
  auto library = Library::parse(text.str(), &parseError);
  if (!library && error) *error = path + ": " + parseError;
  return library;
}

std::shared_ptr<RenderPipelineState> Device::newRenderPipelineState(const RenderPipelineDescriptor& descriptor,
                                                                    std::string* error) {
  const auto& vertex = descriptor.vertexFunction;
  const auto& fragment = descriptor.fragmentFunction;
  if (!vertex || !fragment) {
    if (error) *error = "the pipeline lacks a vertex or fragment function";
    return nullptr;
  }
  if (vertex->stage() != FunctionStage::Vertex || fragment->stage() != FunctionStage::Fragment) {
    if (error) *error = "a function is bound to the wrong stage";
    return nullptr;
  }
  if (descriptor.colorAttachments[0].pixelFormat != PixelFormat::BGRA8Unorm) {
    if (error) *error = "colour attachment 0 must be BGRA8Unorm";
    return nullptr;
  }
  if (!core_->makeCurrent()) {
    if (error) *error = "the GL context cannot be made current";
    return nullptr;
  }
  std::size_t blockSize = 0;
  const GLuint program = detail::linkProgram(*vertex, vertex->source(), *fragment, fragment->source(), &blockSize, error);
  if (program == 0) return nullptr;
  return std::make_shared<RenderPipelineState>(core_, program, blockSize, vertex, fragment);
}

namespace detail {

GLuint linkProgram(const Function& vertex, const std::string& vertexText, const Function& fragment,
                   const std::string& fragmentText, std::size_t* paramsBlockSize, std::string* error) {
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
    if (error) *error = "'" + vertex.name() + "' and '" + fragment.name() + "' do not link: " + programLog(program);
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

RenderPipelineState::RenderPipelineState(std::shared_ptr<detail::Core> core, std::uint32_t program,
                                         std::size_t paramsBlockSize, std::shared_ptr<Function> vertex,
                                         std::shared_ptr<Function> fragment)
    : core_(std::move(core)),
      program_(program),
      paramsBlockSize_(paramsBlockSize),
      vertex_(std::move(vertex)),
      fragment_(std::move(fragment)) {}

std::uint32_t RenderPipelineState::windowProgram() {
  if (windowProgram_ != 0 || windowFailed_ || !vertex_ || !fragment_) return windowProgram_;
  const bool keepY = !core_->clipControl();
  std::size_t blockSize = 0;
  windowProgram_ = detail::linkProgram(*vertex_, vertex_->windowSource(keepY), *fragment_,
                                       fragment_->windowSource(keepY), &blockSize, nullptr);
  windowFailed_ = windowProgram_ == 0;
  if (windowProgram_ != 0) windowHeightLocation_ = glGetUniformLocation(windowProgram_, "quelltrine_windowHeight");
  return windowProgram_;
}

RenderPipelineState::~RenderPipelineState() {
  if (!core_->makeCurrent()) return;
  glDeleteProgram(program_);
  detail::countGLObjects(-1);
  if (windowProgram_ != 0) {
    glDeleteProgram(windowProgram_);
    detail::countGLObjects(-1);
  }
}

std::shared_ptr<Device> createSystemDefaultDevice() {
  std::lock_guard<std::mutex> lock(deviceMutex);
  if (deviceUnavailable) return nullptr;
  if (auto device = sharedDevice.lock()) {
    if (device->core()->egl().nativeDisplay() == preferredDisplay) return device;
  }
  auto core = sharedCore.lock();
  if (!core || core->egl().nativeDisplay() != preferredDisplay) core = detail::Core::create(preferredDisplay, nullptr);
  if (!core) return nullptr;
  sharedCore = core;
  auto device = std::make_shared<Device>(std::move(core));
  sharedDevice = device;
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
