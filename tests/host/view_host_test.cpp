// Releasing the view under its host, against the GPU layer's count of live GL objects.
#include "platform/gpu/gl/testing.h"
#include "support/render_fixture.h"

namespace {

namespace gpu = plat::gpu;

class ViewHost : public qtest::ViewTest {};

TEST_F(ViewHost, ReleasingTheViewFreesEveryGpuObject) {
  usePictures({{255, 0, 0}, {0, 0, 255}});
  const std::size_t before = gpu::testing::liveGLObjectCount();
  {
    auto view = makeView();
    for (int i = 0; i < 3; ++i) view->debugRenderPNG(dir() / "f.png", 1);
    view->configureSheet();
  }
  EXPECT_EQ(gpu::testing::liveGLObjectCount(), before);
}

}  // namespace
