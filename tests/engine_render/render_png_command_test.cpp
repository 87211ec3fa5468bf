// `quelltrine-saver render-png` end to end with the real bundle and no
// display: exit status, the picture in the file, one line saying why when
// the render fails, and the progress bar on a terminal.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gmock/gmock.h>

#include "support/render_fixture.h"
#include "support/xvfb_session.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class RenderPngCommand : public qtest::ViewTest {
 protected:
  // Exit status and standard error of the command.
  std::pair<int, std::string> renderPng(const std::string& args) {
    env_.unset("DISPLAY");
    env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
    const std::string err = dir() / "stderr.txt";
    int status = std::system((std::string(QUELLTRINE_ENGINE) + " --bundle '" + QUELLTRINE_BUNDLE_DIR + "' render-png " +
                              args + " 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, qtest::readFile(err)};
  }
  qtest::EnvGuard env_;
};

TEST_F(RenderPngCommand, DrawsThePictureAndSaysWhyWhenItCannot) {
  usePictures({{30, 160, 90}});
  const std::string png = dir() / "frame.png";
  ASSERT_EQ(renderPng("'" + png + "' --frames -1"), (std::pair<int, std::string>{0, ""}));
  auto source = plat::image::ImageSource::createWithPath(png).valueOr(nullptr);
  ASSERT_TRUE(source);
  auto image = source->createImageAtIndex(0, {}).valueOr(nullptr);  // the pixels are borrowed from it
  ASSERT_TRUE(image);
  auto pixels = image->pixels();
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->width, 1280);
  int greenish = 0;  // the green picture shows through the effects
  for (int y = 0; y < pixels->height; y += 16) {
    for (int x = 0; x < pixels->width; x += 16) {
      const std::uint8_t* p = pixels->data + std::size_t(y) * pixels->bytesPerRow + std::size_t(x) * 4;
      greenish += p[1] > p[0] + 30 && p[1] > p[2] + 30;
    }
  }
  EXPECT_GT(greenish, 0);

  auto [status, err] = renderPng("'" + dir() / "missing/frame.png" + "'");
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  std::filesystem::create_directories(dir() / "a-folder.png");
  std::tie(status, err) = renderPng("'" + dir() / "a-folder.png" + "'");
  EXPECT_NE(err.find("is a folder"), std::string::npos) << err;
  EXPECT_EQ(renderPng("x.png --frames many").first, 2) << "a usage error";
}

// On a terminal stderr shows a bar that counts the frames up to N and ends its line; to a file it shows nothing
// (above: stderr stays empty).
TEST_F(RenderPngCommand, ShowsAProgressBarOnATerminal) {
  usePictures({{30, 160, 90}});
  env_.unset("DISPLAY");
  env_.set("LIBGL_ALWAYS_SOFTWARE", "1");
  const std::string png = dir() / "bar.png";
  int master = -1, slave = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 100;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(slave, STDERR_FILENO);
    ::close(master);
    ::close(slave);
    ::execl(QUELLTRINE_ENGINE, QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR, "render-png", png.c_str(),
            "--frames", "12", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(slave);
  std::string out;
  char buffer[512];
  for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 60000) > 0;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has ended and the terminal has no writer left
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(master);
  EXPECT_EQ(qtest::waitExit(pid, 10s), 0) << out;
  EXPECT_TRUE(std::filesystem::exists(png));
  EXPECT_THAT(out, HasSubstr("] 0/12 frames")) << "drawn at once, before the first frame";
  EXPECT_THAT(out, HasSubstr("[" + std::string(40, '#') + "] 12/12 frames  "));
  EXPECT_THAT(out, ::testing::ContainsRegex("12/12 frames  [0-9]+\\.[0-9] fps  0:00 left"));
  EXPECT_THAT(out, ::testing::EndsWith("\n")) << "the last state keeps its line";
  EXPECT_EQ(out.find("13/12"), std::string::npos);
}

}  // namespace
