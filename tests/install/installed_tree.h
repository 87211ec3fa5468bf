// The staged installs (one DESTDIR folder per prefix, laid out by stage.cmake), the files an install must
// hold, and a shell command run with its output captured.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sys/temp_env.h"

namespace qtest {

inline std::vector<std::string> installPrefixes() {
  std::vector<std::string> prefixes;
  std::stringstream list(QUELLTRINE_INSTALL_PREFIXES);
  for (std::string p; std::getline(list, p, ':');) prefixes.push_back(p);
  return prefixes;
}

// The DESTDIR folder of one staged install: STAGE/usr-local for /usr/local.
inline std::string stageRoot(const std::string& prefix) {
  std::string name = prefix.substr(1);
  for (char& c : name) c = c == '/' ? '-' : c;
  return std::string(QUELLTRINE_INSTALL_STAGE) + "/" + name;
}

inline std::string stagedPrefix(const std::string& prefix) { return stageRoot(prefix) + prefix; }

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// installed-files.txt: paths relative to the prefix.
inline std::set<std::string> expectedFiles() {
  std::set<std::string> files;
  for (const auto& line : lines(readFile(QUELLTRINE_INSTALLED_FILES))) {
    if (!line.empty() && line[0] != '#') files.insert(line);
  }
  return files;
}

// Every file and link below `root` (not folders), as "/"-led paths relative to it.
inline std::set<std::string> filesBelow(const std::string& root) {
  namespace fs = std::filesystem;
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink() || !entry.is_directory()) {
      files.insert("/" + entry.path().lexically_relative(root).string());
    }
  }
  return files;
}

inline std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Ran {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out, err;
};

// Runs a /bin/sh command line with its standard output and error captured.
inline Ran run(const std::string& command) {
  TempDir tmp;
  const std::string out = tmp / "out", err = tmp / "err";
  int status = std::system((command + " >" + shellQuote(out) + " 2>" + shellQuote(err) + " </dev/null").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

}  // namespace qtest
