// What the engine shows of its own: the frame-rate reading (on made-up
// clocks), the text it lays over a view, and the render-png progress line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/fps_meter.h"
#include "engine/overlay_text.h"
#include "engine/render_progress.h"

using namespace quelltrine::engine;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr FpsMeter::Nanos kSecond = 1'000'000'000;

TEST(FpsMeter, ReadsFramesAndLoadOncePerPeriod) {
  FpsMeter meter;
  meter.start(5 * kSecond, 100);
  EXPECT_THAT(meter.lines(), ::testing::IsEmpty()) << "nothing to show before the first second";
  // 30 frames over one second, a quarter of which the process spent on the CPU.
  for (int i = 1; i < 30; ++i) ASSERT_FALSE(meter.frame(5 * kSecond + i * kSecond / 30, 100)) << i;
  EXPECT_FALSE(meter.hasReading());
  ASSERT_TRUE(meter.frame(6 * kSecond, 100 + kSecond / 4));
  EXPECT_DOUBLE_EQ(meter.fps(), 30.0);
  EXPECT_DOUBLE_EQ(meter.load(), 0.25);
  EXPECT_THAT(meter.lines(), ElementsAre("FPS:  30.0", "Load: 25.0%"));

  // The next period counts afresh: 8 frames over two seconds (a late frame), the GPU driver's threads using
  // more than one core.
  for (int i = 1; i < 8; ++i) ASSERT_FALSE(meter.frame(6 * kSecond + i * kSecond / 8, 100)) << i;
  ASSERT_TRUE(meter.frame(8 * kSecond, 100 + kSecond / 4 + 3 * kSecond));
  EXPECT_DOUBLE_EQ(meter.fps(), 4.0);
  EXPECT_DOUBLE_EQ(meter.load(), 1.5);
  EXPECT_THAT(meter.lines(), ElementsAre("FPS:  4.0", "Load: 150.0%"));

  // A CPU clock that reads less than before is no load, never a negative one.
  ASSERT_TRUE(meter.frame(9 * kSecond, 0));
  EXPECT_DOUBLE_EQ(meter.load(), 0.0);
}

TEST(RenderProgress, ShowsFramesRateAndTimeLeftWithinTheTerminal) {
  // Nothing done yet: no rate and no time left to tell.
  EXPECT_EQ(formatRenderProgress(0, 300, 0.5, 80), "[" + std::string(40, '.') + "] 0/300 frames");
  // A third done in ten seconds: 10 fps, twenty seconds left, the bar a third full.
  EXPECT_EQ(formatRenderProgress(100, 300, 10.0, 80),
            "[" + std::string(13, '#') + std::string(27, '.') + "] 100/300 frames  10.0 fps  0:20 left");
  EXPECT_EQ(formatRenderProgress(300, 300, 12.0, 80),
            "[" + std::string(40, '#') + "] 300/300 frames  25.0 fps  0:00 left");
  // Long renders show hours; a part second left counts as a whole one.
  EXPECT_THAT(formatRenderProgress(1, 10000, 1.0, 120), HasSubstr("2:46:39 left"));
  EXPECT_THAT(formatRenderProgress(2, 3, 1.0, 80), HasSubstr("0:01 left"));

  for (int columns : {80, 60, 45, 30, 12, 1}) {
    SCOPED_TRACE(columns);
    EXPECT_LE(formatRenderProgress(150, 300, 3.0, columns).size(), static_cast<std::size_t>(columns));
  }
  EXPECT_THAT(formatRenderProgress(150, 300, 3.0, 30), Not(HasSubstr("["))) << "no room for a bar: the text alone";

  // More frames than asked for (another waited buffer) and odd totals stay in range.
  EXPECT_THAT(formatRenderProgress(7, 5, 1.0, 80), HasSubstr("5/5 frames"));
  EXPECT_THAT(formatRenderProgress(-3, 5, 1.0, 80), HasSubstr("0/5 frames"));
  EXPECT_THAT(formatRenderProgress(0, 0, 1.0, 80), HasSubstr("0/1 frames"));
}

struct TextStats {
  int white = 0;           // opaque and white
  int dark = 0;            // mostly opaque and dark: the outline
  int notPremultiplied = 0;
};

TextStats stats(const plat::gpu::OverlayImage& image) {
  TextStats s;
  for (std::size_t i = 0; i + 3 < image.pixels.size(); i += 4) {
    const std::uint8_t b = image.pixels[i], g = image.pixels[i + 1], r = image.pixels[i + 2], a = image.pixels[i + 3];
    s.white += a == 255 && r > 240 && g > 240 && b > 240;
    s.dark += a > 180 && r < 60 && g < 60 && b < 60;
    s.notPremultiplied += r > a || g > a || b > a;
  }
  return s;
}

TEST(OverlayText, WhiteOutlinedPremultipliedTextThatGrowsWithLinesAndScale) {
  EXPECT_TRUE(renderOverlayText({}, 1.0).empty());

  const auto one = renderOverlayText({"FPS:  30.0"}, 1.0);
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(one.pixels.size(), one.width * one.height * 4);
  const TextStats s = stats(one);
  EXPECT_GT(s.white, 50) << "the glyphs";
  EXPECT_GT(s.dark, 50) << "their outline, so that the text reads on a light picture";
  EXPECT_EQ(s.notPremultiplied, 0);
  // The text sits inside the picture: the border rows and columns are clear.
  EXPECT_EQ(one.pixels[3], 0);
  EXPECT_EQ(one.pixels.back(), 0);
  EXPECT_GE(one.height, static_cast<std::size_t>(kOverlayTextPixels));

  const auto two = renderOverlayText({"FPS:  30.0", "Load: 12.5%"}, 1.0);
  EXPECT_GT(two.height, one.height * 3 / 2);
  EXPECT_GT(two.width, one.width) << "the longer second line";

  const auto doubled = renderOverlayText({"FPS:  30.0"}, 2.0);
  EXPECT_NEAR(static_cast<double>(doubled.height) / static_cast<double>(one.height), 2.0, 0.25);
  EXPECT_NEAR(static_cast<double>(doubled.width) / static_cast<double>(one.width), 2.0, 0.25);
  // A nonsense scale counts as 1.
  EXPECT_EQ(renderOverlayText({"FPS:  30.0"}, -3.0).height, one.height);

  // A notice may carry a folder name that is not UTF-8, or German text.
  const auto notice = renderOverlayText({"Keine Bilder in /home/b\xe4r/Fotos", "\u201eUrlaub\u201c \u00fcberall"}, 1.0);
  EXPECT_FALSE(notice.empty());
  EXPECT_GT(stats(notice).white, 50);
}

// A folder name longer than the view is wide wraps inside it, also where
// it has no space to break at; lines that fit stay as they are.
TEST(OverlayText, ALineWiderThanTheViewWrapsInsideIt) {
  const std::vector<std::string> lines{
      "Keine Bilder:", "Den Ordner /home/jemand/Bilder/Quelltrine_Screensaver_mit_langem_Namen gibt es nicht"};
  const auto free = renderOverlayText(lines, 1.0);
  ASSERT_GT(free.width, 400u) << "the long line unwrapped";
  const auto wrapped = renderOverlayText(lines, 1.0, 400);
  ASSERT_FALSE(wrapped.empty());
  EXPECT_LE(wrapped.width, 400u);
  EXPECT_GT(wrapped.height, free.height) << "the long line took more lines";
  EXPECT_GT(stats(wrapped).white, stats(free).white * 9 / 10) << "no glyph was dropped";
  const auto short_ = renderOverlayText({"FPS:  30.0"}, 1.0);
  EXPECT_EQ(renderOverlayText({"FPS:  30.0"}, 1.0, 400).width, short_.width);
}

}  // namespace
