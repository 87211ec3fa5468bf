// The installed man pages format without warnings and name exactly the options and commands of the installed engine's --help, and every
// option --help names is one the command line takes.
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/command_line.h"
#include "install/installed_tree.h"

namespace {

using namespace qtest;
using ::testing::ContainerEq;
using ::testing::HasSubstr;

const std::string kUsr = "/usr";

std::string manDir() { return stagedPrefix(kUsr) + "/share/man"; }
std::string engine() { return stagedPrefix(kUsr) + "/bin/quelltrine-saver"; }

struct Words {
  std::set<std::string> options;   // "-root", "--frames", ...
  std::set<std::string> commands;  // "configure", ...
};

std::set<std::string> optionsIn(const std::string& text) {
  static const std::regex option(R"((?:^|[\s\[|,(])(--?[A-Za-z][A-Za-z0-9-]*))");
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) found.insert((*it)[1]);
  return found;
}

// --help: entries start two spaces in, the option column ends at the first
// run of two spaces; entries after "Commands:" begin with the command's name.
Words helpWords(const std::string& help) {
  Words w;
  bool commands = false;
  for (const auto& line : lines(help)) {
    if (line.rfind("Commands:", 0) == 0) commands = true;
    if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;
    std::string column = line.substr(2, line.find("  ", 2) - 2);
    if (commands && column[0] != '-') w.commands.insert(column.substr(0, column.find(' ')));
    for (const auto& o : optionsIn(column)) w.options.insert(o);
  }
  return w;
}

// Roff text as a reader sees it: "\-" a dash, no font changes, no macro names.
std::string plain(std::string line) {
  line = std::regex_replace(line, std::regex(R"(\\f(\[[^\]]*\]|\(..|.))"), "");
  line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
  line = std::regex_replace(line, std::regex(R"(\\[%&])"), "");
  line = std::regex_replace(line, std::regex(R"(^\.[A-Za-z]+\s*)"), "");
  for (char& c : line) c = c == '"' ? ' ' : c;
  return line;
}

// The tags of the .TP entries (the line after each .TP) of one section (.SH NAME) of a man page.
std::vector<std::string> tags(const std::string& page, const std::string& name) {
  std::vector<std::string> out;
  bool inside = false, tag = false;
  for (const auto& line : lines(page)) {
    if (line.rfind(".SH", 0) == 0) inside = plain(line).find(name) == 0;
    if (!inside || line.rfind(".\\\"", 0) == 0) continue;
    if (tag) out.push_back(plain(line));
    tag = line.rfind(".TP", 0) == 0;
  }
  return out;
}

using ManPage = ::testing::TestWithParam<std::string>;

// As lintian checks pages: groff's own warnings at -ww.
TEST_P(ManPage, FormatsWithoutWarnings) {
  Ran groff = run("groff -man -ww -z -Tutf8 " + shellQuote(manDir() + "/man6/" + GetParam()));
  EXPECT_EQ(groff.status, 0);
  EXPECT_EQ(groff.err, "");
}

TEST_P(ManPage, OptionsAndCommandsAreThoseOfHelp) {
  Ran help = run(shellQuote(engine()) + " --help");
  ASSERT_EQ(help.status, 0) << help.err;
  const Words fromHelp = helpWords(help.out);
  ASSERT_THAT(fromHelp.options, ::testing::Contains("--help")) << "--help's layout changed:\n" << help.out;
  ASSERT_THAT(fromHelp.commands, ::testing::Contains("configure")) << "--help's layout changed:\n" << help.out;

  const std::string page = readFile(manDir() + "/man6/" + GetParam());
  Words options;
  for (const auto& tag : tags(page, "OPTIONS")) options.options.merge(optionsIn(tag));
  for (const auto& tag : tags(page, "COMMANDS")) {
    options.commands.insert(tag.substr(0, tag.find(' ')));
    for (const auto& o : optionsIn(tag)) options.options.insert(o);
  }
  EXPECT_THAT(options.options, ContainerEq(fromHelp.options)) << "OPTIONS and COMMANDS against --help";
  EXPECT_THAT(options.commands, ContainerEq(fromHelp.commands)) << "COMMANDS against --help";
}

// quelltrine.6 is what xscreensaver-settings opens for the hack.
INSTANTIATE_TEST_SUITE_P(Installed, ManPage, ::testing::Values("quelltrine-saver.6", "quelltrine.6"),
                         [](const auto& page) { return page.param == "quelltrine.6" ? "Hack" : "Program"; });

TEST(Help, EveryOptionItNamesIsOneTheCommandLineTakes) {
  using quelltrine::engine::parseCommandLine;
  const std::string unknownProbe = "--no-such-option-at-all";
  const std::string unknownError = parseCommandLine({unknownProbe}, nullptr).error;
  ASSERT_THAT(unknownError, HasSubstr(unknownProbe));
  for (const auto& option : helpWords(quelltrine::engine::usageText()).options) {
    // An option that needs a value may fail alone, but not as unknown.
    std::string unknown = unknownError;
    unknown.replace(unknown.find(unknownProbe), unknownProbe.size(), option);
    EXPECT_NE(parseCommandLine({option}, nullptr).error, unknown) << option;
  }
}

}  // namespace
