#include "platform/sys/fs.h"

#include "platform/error_sink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <unistd.h>

namespace plat::sys {

namespace {

// The home folder of a password-database entry, looked up by name or, with
// an empty name, by the real user id. Empty when there is none.
std::string passwordHome(const std::string& user) {
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = user.empty() ? ::getpwuid_r(::getuid(), &entry, buf.data(), buf.size(), &found)
                          : ::getpwnam_r(user.c_str(), &entry, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return {};
    return found->pw_dir;
  }
}

Error listingError(const std::string& dir, int code) {
  std::string message;
  switch (code) {
    case ENOENT: message = "the folder does not exist"; break;
    case ENOTDIR: message = "not a folder"; break;
    default: message = std::string("cannot read the folder: ") + std::strerror(code); break;
  }
  return Error{ErrorKind::Folder, "folder", std::move(message), dir, code};
}

}  // namespace

namespace detail {

ErrorOr<std::vector<std::string>> readDirectoryNames(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return listingError(dir, errno);
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d);
    if (e == nullptr) break;
    // Hidden entries ("." and ".." among them) are never listed.
    if (e->d_name[0] == '.') continue;
    names.emplace_back(e->d_name);
  }
  const int err = errno;
  ::closedir(d);
  if (err != 0) return listingError(dir, err);
  return names;
}

}  // namespace detail

ErrorOr<std::vector<std::string>> listDirectoryNames(const std::string& dir) {
  auto names = plat::detail::reportFailure(detail::readDirectoryNames(dir));
  if (names) plat::detail::noteFolderListed(dir, names->size());
  return names;
}

std::string homeDirectory() {
  const char* env = std::getenv("HOME");
  if (env != nullptr && env[0] != '\0') return env;
  std::string home = passwordHome({});
  return home.empty() ? std::string("/") : home;
}

std::string expandTilde(const std::string& path) {
  if (path.empty() || path[0] != '~') return path;
  const std::size_t slash = path.find('/');
  const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  const std::string home = user.empty() ? homeDirectory() : passwordHome(user);
  if (home.empty()) return path;
  if (slash == std::string::npos || slash + 1 == path.size()) return home;
  return joinPath(home, path.substr(slash + 1));
}

std::string joinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (a.back() == '/') return a + b;
  return a + "/" + b;
}

}  // namespace plat::sys
