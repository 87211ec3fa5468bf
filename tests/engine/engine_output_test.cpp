// Output into a pipe with no reader (`| head -0`) or a full disk is a write failure reported with status 1,
// never a death by SIGPIPE (status 141) nor a success.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/xvfb_session.h"
#include "sys/temp_env.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

enum class Sink { ClosedPipe, FullDisk };

class EngineOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("XDG_CONFIG_HOME", dir_ / "config");
    env_.set("HOME", dir_ / "home");
  }
  // Runs the engine with `stream` (1 or 2) going to `sink` and the other one to a file; how it ended.
  std::string run(const std::vector<std::string>& args, int stream, Sink sink) {
    int fds[2];
    if (::pipe(fds) != 0) return "no pipe";
    ::close(fds[0]);  // before the fork: no reader ever exists
    const std::string other = dir_ / "other-stream";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int target = sink == Sink::ClosedPipe ? fds[1] : ::open("/dev/full", O_WRONLY);
      ::dup2(target, stream);
      ::dup2(::open(other.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), stream == 1 ? 2 : 1);
      std::vector<std::string> all{QUELLTRINE_ENGINE, "--bundle", QUELLTRINE_BUNDLE_DIR};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    const std::string end = qtest::waitEnd(pid, 60s);
    std::ifstream in(other);
    otherStream_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return end;
  }
  qtest::TempDir dir_;
  qtest::EnvGuard env_;
  std::string otherStream_;  // what went to the stream that was not the sink
};

TEST_F(EngineOutput, StandardOutputThatGoesNowhereIsAFailureSaidOnStandardError) {
  ASSERT_EQ(run({"defaults", "write", "interval", "20"}, 1, Sink::ClosedPipe), "exit 0") << otherStream_;
  struct Case {
    std::vector<std::string> args;
    Sink sink;
    const char* reason;
  };
  for (const Case& c : {Case{{"defaults", "read"}, Sink::ClosedPipe, "Broken pipe"},
                        Case{{"--version"}, Sink::FullDisk, "No space left on device"}}) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + (c.sink == Sink::FullDisk ? " > /dev/full" : " | head -0"));
    EXPECT_EQ(run(c.args, 1, c.sink), "exit 1");
    EXPECT_THAT(otherStream_, HasSubstr("cannot write to standard output"));
    EXPECT_THAT(otherStream_, HasSubstr(c.reason));
    EXPECT_EQ(std::count(otherStream_.begin(), otherStream_.end(), '\n'), 1) << otherStream_;
  }
}

TEST_F(EngineOutput, AMessageIntoAClosedPipeLeavesTheStatusOfTheCommand) {
  // A render that fails says why on stderr, which nobody reads: still status 1, not a death by SIGPIPE.
  EXPECT_EQ(run({"render-png", dir_ / "missing/frame.png"}, 2, Sink::ClosedPipe), "exit 1");
  EXPECT_EQ(run({"--colour"}, 2, Sink::ClosedPipe), "exit 2");
}

}  // namespace
