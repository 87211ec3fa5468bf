// The sink hears each failure once, also when the module drops it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/quelltrine_saver_view.h"
#include "platform/error_sink.h"
#include "platform/gpu/device.h"
#include "platform/image/image.h"
#include "playlist/texture_loading.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace {

using plat::Error;
using plat::ErrorKind;

struct Recorder final : plat::ErrorSink {
  void failed(const Error& e) override { failures.push_back(e); }
  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const auto& f : failures) out.push_back(f.path);
    return out;
  }
  std::vector<Error> failures;
};

static_assert(!std::is_convertible_v<std::nullptr_t, plat::ErrorOr<std::shared_ptr<int>>>,
              "a null pointer must not pass for a success");

class ErrorSinkTest : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  qtest::TempDir dir_;
  std::shared_ptr<Recorder> heard_ = std::make_shared<Recorder>();
  plat::ScopedErrorSink scope_{heard_};
};

TEST_F(ErrorSinkTest, APictureThatFailsIsHeardOnceWithItsFileWhicheverStepFails) {
  // A PNG cut off after its header: it opens, and fails when a crop of it is decoded.
  std::vector<std::uint8_t> rows(64 * 40 * 4, 200);
  const std::string png = dir_ / "cut.png";
  ASSERT_TRUE(plat::image::writePNG(png, {rows.data(), 64, 40, 64 * 4, plat::image::PixelOrder::BGRA}));
  std::filesystem::resize_file(png, 80);
  EXPECT_TRUE(heard_->failures.empty()) << "a successful write is not a failure";
  auto source = plat::image::ImageSource::createWithPath(png).valueOr(nullptr);
  ASSERT_TRUE(source);
  auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);
  ASSERT_TRUE(image);
  auto crop = image->cropped({8, 8, 32, 20});
  ASSERT_TRUE(crop);
  EXPECT_FALSE(crop->pixels());
  EXPECT_EQ(heard_->paths(), std::vector<std::string>{png}) << "not once more for the crop passing it on";
}

TEST_F(ErrorSinkTest, TheModuleDropsEachErrorAndTheSinkStillHearsIt) {
  write("notes.jpg", "not a picture");
  quelltrine::Playlist playlist{{dir_ / "notes.jpg", dir_ / "gone.png", dir_ / "notes.jpg"}, {0, 1, 2}, 0};
  qtest::SeededRandom rng(1);
  auto texture = quelltrine::loadNextWith(playlist, {160, 100}, rng,
                                          [](const plat::image::Image&) { return std::shared_ptr<int>(); });
  EXPECT_EQ(texture, nullptr);
  EXPECT_EQ(heard_->paths(), (std::vector<std::string>{dir_ / "notes.jpg", dir_ / "gone.png", dir_ / "notes.jpg"}));

  // No GPU device: the view is made and draws nothing; the engine hears why.
  heard_->failures.clear();
  plat::gpu::testing::setSystemDeviceUnavailable(true);
  auto view = quelltrine::QuelltrineSaverView::initWithFrame(plat::ui::makeRect(0, 0, 160, 100), false);
  plat::gpu::testing::setSystemDeviceUnavailable(false);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->device, nullptr);
  ASSERT_EQ(heard_->failures.size(), 1u);
  EXPECT_EQ(heard_->failures[0].kind, ErrorKind::Device);
}

}  // namespace
