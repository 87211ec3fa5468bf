// The baseline two-pass frame (see passthrough_frame.h).
#include "bench/gpu/passthrough_frame.h"

#include <vector>

namespace quelltrine::bench {
namespace {

using namespace plat::gpu;

const char* kLibrary = R"(
//@common
uniform sampler2D tex0;
uniform sampler2D tex1;
uniform sampler2D tex2;
uniform sampler2D tex3;
uniform sampler2D tex4;
layout(std140) uniform Params { vec4 p[13]; };
//@function v_fullscreen vertex
out vec2 uv;
void main() {
  vec2 q = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  uv = q;
  gl_Position = vec4(q.x * 2.0 - 1.0, 1.0 - q.y * 2.0, 0.0, 1.0);
}
//@function f_composite fragment
in vec2 uv;
out vec4 color;
void main() {
  vec4 a = texture(tex0, uv), b = texture(tex1, uv), prev = texture(tex2, uv);
  vec4 a3 = texture(tex3, uv), a4 = texture(tex4, uv);
  color = mix(a, b, p[0].y) * 0.5 + prev * 0.25 + (a3 + a4) * 0.125;
}
//@function f_present fragment
in vec2 uv;
out vec4 color;
void main() { color = texture(tex0, uv) * p[4].y; }
)";

std::shared_ptr<Texture> makeTexture(Device& device, std::size_t w, std::size_t h, std::uint32_t usage,
                                     std::uint8_t seed) {
  auto d = TextureDescriptor::texture2D(PixelFormat::BGRA8Unorm, w, h, false);
  d.usage = usage;
  auto t = device.newTexture(d);
  if (t && seed != 0) {
    std::vector<std::uint8_t> bytes(w * h * 4);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * seed);
    t->replaceRegion(makeRegion(0, 0, w, h), 0, bytes.data(), w * 4);
  }
  return t;
}

}  // namespace

std::unique_ptr<PassthroughFrame> PassthroughFrame::create(std::shared_ptr<Device> device, std::size_t width,
                                                           std::size_t height, std::string* error) {
  if (!device) {
    if (error) *error = "no device";
    return nullptr;
  }
  std::unique_ptr<PassthroughFrame> f(new PassthroughFrame);
  f->device_ = device;
  f->queue_ = device->newCommandQueue();
  auto parsed = Library::parse(kLibrary);
  if (!parsed) {
    if (error) *error = parsed.error().text();
    return nullptr;
  }
  auto library = std::move(parsed).value();
  for (const char* name : {"f_composite", "f_present"}) {
    RenderPipelineDescriptor d;
    d.vertexFunction = library->newFunctionWithName("v_fullscreen");
    d.fragmentFunction = library->newFunctionWithName(name);
    d.colorAttachments[0].pixelFormat = PixelFormat::BGRA8Unorm;
    auto pso = device->newRenderPipelineState(d);
    if (!pso) {
      if (error) *error = pso.error().text();
      return nullptr;
    }
    (name[2] == 'c' ? f->composite_ : f->present_) = *pso;
  }
  const std::uint32_t rt = TextureUsage::ShaderRead | TextureUsage::RenderTarget;
  f->pictureA_ = makeTexture(*device, width, height, TextureUsage::ShaderRead, 3);
  f->pictureB_ = makeTexture(*device, width, height, TextureUsage::ShaderRead, 7);
  f->scene_[0] = makeTexture(*device, width, height, rt, 0);
  f->scene_[1] = makeTexture(*device, width, height, rt, 0);
  f->target_ = makeTexture(*device, width, height, rt, 0);
  if (!f->pictureA_ || !f->pictureB_ || !f->scene_[0] || !f->scene_[1] || !f->target_) {
    if (error) *error = "textures refused";
    return nullptr;
  }
  f->params_[1] = 0.5f;   // mixAB
  f->params_[17] = 1.0f;  // fade
  return f;
}

bool PassthroughFrame::render() {
  auto buffer = queue_->commandBuffer();
  if (!buffer) return false;
  auto pass = [&](const std::shared_ptr<Texture>& target, const std::shared_ptr<RenderPipelineState>& pso,
                  std::initializer_list<std::shared_ptr<Texture>> inputs) {
    RenderPassDescriptor d;
    d.colorAttachments[0].texture = target;
    d.colorAttachments[0].loadAction = LoadAction::Clear;
    d.colorAttachments[0].storeAction = StoreAction::Store;
    auto encoder = buffer->renderCommandEncoder(d);
    if (!encoder) return false;
    encoder->setRenderPipelineState(pso);
    std::size_t i = 0;
    for (const auto& t : inputs) encoder->setFragmentTexture(t, i++);
    encoder->setFragmentBytes(params_, sizeof params_, 0);
    encoder->drawPrimitives(PrimitiveType::Triangle, 0, 3);
    encoder->endEncoding();
    return true;
  };
  const auto& current = scene_[cur_];
  const auto& previous = scene_[1 - cur_];
  const bool ok = pass(current, composite_, {pictureA_, pictureB_, previous, pictureA_, pictureA_}) &&
                  pass(target_, present_, {current});
  buffer->commit();
  buffer->waitUntilCompleted();
  cur_ = 1 - cur_;
  return ok;
}

void BM_PassthroughFrame(benchmark::State& state) {
  auto device = plat::gpu::createSystemDefaultDevice();
  std::string error;
  auto frame = PassthroughFrame::create(device, static_cast<std::size_t>(state.range(0)),
                                        static_cast<std::size_t>(state.range(1)), &error);
  if (!frame) {
    state.SkipWithError(error.empty() ? "no GPU device" : error.c_str());
    return;
  }
  frame->render();  // first use compiles lazily inside the driver
  for (auto _ : state) {
    if (!frame->render()) {
      state.SkipWithError("frame refused");
      break;  // SkipWithError does not end the loop
    }
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(device->limits().rendererName);
}

}  // namespace quelltrine::bench
