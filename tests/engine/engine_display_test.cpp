// What the engine shows of its own: the frame-rate reading (on made-up
// clocks), the text it lays over a view, and the render-png progress line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/fps_meter.h"
#include "engine/overlay_text.h"
#include "engine/render_progress.h"

using namespace quelltrine::engine;
using ::testing::HasSubstr;

namespace {

constexpr FpsMeter::Nanos kSecond = 1'000'000'000;

TEST(FpsMeter, ReadsFramesAndLoadOncePerPeriod) {
  FpsMeter meter;
  meter.start(5 * kSecond, 100);
  // 30 frames over one second, a quarter of which the process spent on the CPU.
  for (int i = 1; i < 30; ++i) ASSERT_FALSE(meter.frame(5 * kSecond + i * kSecond / 30, 100)) << i;
  ASSERT_TRUE(meter.frame(6 * kSecond, 100 + kSecond / 4));
  EXPECT_DOUBLE_EQ(meter.fps(), 30.0);
  EXPECT_DOUBLE_EQ(meter.load(), 0.25);
  // A CPU clock that reads less than before is no load, never a negative one.
  ASSERT_TRUE(meter.frame(7 * kSecond, 0));
  EXPECT_DOUBLE_EQ(meter.load(), 0.0);
}

TEST(RenderProgress, StaysWithinTheTerminalAndInRange) {
  for (int columns : {80, 30, 1}) {
    SCOPED_TRACE(columns);
    EXPECT_LE(formatRenderProgress(150, 300, 3.0, columns).size(), static_cast<std::size_t>(columns));
  }
  EXPECT_THAT(formatRenderProgress(7, 5, 1.0, 80), HasSubstr("5/5 frames"));
  EXPECT_THAT(formatRenderProgress(0, 0, 1.0, 80), HasSubstr("0/1 frames"));
}

int whitePixels(const plat::gpu::OverlayImage& image) {
  int white = 0;
  for (std::size_t i = 0; i + 3 < image.pixels.size(); i += 4)
    white += image.pixels[i + 3] == 255 && image.pixels[i] > 240 && image.pixels[i + 1] > 240 && image.pixels[i + 2] > 240;
  return white;
}

TEST(OverlayText, PremultipliedTextThatReadsOnAnyPicture) {
  const auto one = renderOverlayText({"FPS:  30.0", "Keine Bilder in /home/b\xe4r/Fotos"}, 1.0);
  ASSERT_FALSE(one.empty());
  ASSERT_EQ(one.pixels.size(), one.width * one.height * 4);
  int dark = 0, notPremultiplied = 0;
  for (std::size_t i = 0; i < one.pixels.size(); i += 4) {
    const auto b = one.pixels[i], g = one.pixels[i + 1], r = one.pixels[i + 2], a = one.pixels[i + 3];
    dark += a > 180 && r < 60 && g < 60 && b < 60;
    notPremultiplied += r > a || g > a || b > a;
  }
  EXPECT_GT(whitePixels(one), 50) << "the glyphs";
  EXPECT_GT(dark, 50) << "their outline, so that the text reads on a light picture";
  EXPECT_EQ(notPremultiplied, 0);
}

// A folder name longer than the view is wide wraps inside it, also where it has no space to break at.
TEST(OverlayText, ALineWiderThanTheViewWrapsInsideIt) {
  const std::vector<std::string> lines{
      "Keine Bilder:", "Den Ordner /home/jemand/Bilder/Quelltrine_Screensaver_mit_langem_Namen gibt es nicht"};
  const auto free = renderOverlayText(lines, 1.0);
  ASSERT_GT(free.width, 400u) << "the long line unwrapped";
  const auto wrapped = renderOverlayText(lines, 1.0, 400);
  EXPECT_LE(wrapped.width, 400u);
  EXPECT_GT(whitePixels(wrapped), whitePixels(free) * 9 / 10) << "no glyph was dropped";
}

}  // namespace
