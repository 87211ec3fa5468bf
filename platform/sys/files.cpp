#include "platform/sys/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/sys/fs.h"

namespace plat::sys {

namespace {

std::string reason(int code) { return std::strerror(code); }

std::string sizeText(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// Every byte, through short writes and signals. false with errno set.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      errno = EIO;  // a write that takes nothing would loop for ever
      return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, for a caller that must see the result. errno on failure.
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

}  // namespace

std::string parentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

ErrorOr<FileContents> readRegularFile(const std::string& path, std::size_t maxBytes, ErrorKind kind,
                                      const char* origin) {
  auto fail = [&](std::string message, int code) { return Error{kind, origin, std::move(message), path, code}; };
  auto refusal = [&](const struct stat& st) {
    return S_ISDIR(st.st_mode) ? fail("a folder, not a file", EISDIR) : fail("not a regular file", 0);
  };
  auto cannotRead = [&](int code) { return fail("cannot be read: " + reason(code), code); };
  FileContents file;
  if (::stat(path.c_str(), &file.status) != 0) return cannotRead(errno);
  if (!S_ISREG(file.status.st_mode)) return refusal(file.status);
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return cannotRead(errno);
  if (::fstat(fd.get(), &file.status) != 0) return cannotRead(errno);
  if (!S_ISREG(file.status.st_mode)) return refusal(file.status);
  const std::size_t tooLarge = maxBytes + 1;
  if (file.status.st_size < 0 || static_cast<std::uint64_t>(file.status.st_size) >= tooLarge) {
    return fail("larger than " + sizeText(maxBytes), EFBIG);
  }
  // One byte more than the file holds, so that the end is seen without a
  // second buffer; a file that grew meanwhile is read on up to the cap.
  std::size_t capacity = static_cast<std::size_t>(file.status.st_size) + 1;
  file.data = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  for (;;) {
    if (file.size == capacity) {
      if (capacity >= tooLarge) return fail("larger than " + sizeText(maxBytes), EFBIG);
      const std::size_t grown = std::min(capacity * 2, tooLarge);
      auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(grown);
      std::memcpy(bigger.get(), file.data.get(), file.size);
      file.data = std::move(bigger);
      capacity = grown;
    }
    const ssize_t n = ::read(fd.get(), file.data.get() + file.size, capacity - file.size);
    if (n > 0) {
      file.size += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return cannotRead(errno);
    }
  }
  return file;
}

ErrorOr<void> writeFileInPlace(const std::string& path, std::span<const std::uint8_t> data) {
  auto fail = [&path](std::string message, int code) {
    return Error{ErrorKind::FileWrite, "file", std::move(message), path, code};
  };
  auto cannotWrite = [&](int code) {
    if (code == ENOSPC || code == EDQUOT) return fail("no room on the disk: " + reason(code), code);
    return fail("cannot write: " + reason(code), code);
  };
  if (path.empty()) return fail("no file name", ENOENT);
  // O_NONBLOCK: a FIFO with no reader fails with ENXIO instead of blocking
  // the open; the writes below block as usual.
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool created = true;
  bool throughLink = false;
  int opened = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  if (opened < 0 && errno == EEXIST) {
    created = false;
    opened = ::open(path.c_str(), kFlags);
    // A link that leads nowhere yet: the file is made where it leads. It
    // is not removed on failure (the name is the link's), only cut back.
    if (opened < 0 && errno == ENOENT) {
      throughLink = true;
      opened = ::open(path.c_str(), kFlags | O_CREAT, 0666);
    }
  }
  if (opened < 0) {
    const int code = errno;
    switch (code) {
      case ENOENT:
        if (throughLink) return fail("the link leads into a folder that does not exist", code);
        return fail("the folder " + parentFolder(path) + " does not exist", code);
      case ENOTDIR: return fail(parentFolder(path) + " is not a folder", code);
      case EISDIR: return fail("the path is a folder", code);
      case ENXIO: return fail("nothing reads from it (a pipe with no reader, or a device that is not there)", code);
      default: return cannotWrite(code);
    }
  }
  Descriptor fd(opened);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
    const int code = errno;
    if (created) ::unlink(path.c_str());
    return cannotWrite(code);
  }

  if (!S_ISREG(st.st_mode)) {
    // A device or pipe takes the bytes as they come; there is nothing to
    // reserve, cut back or flush.
    if (!writeAll(fd.get(), data.data(), data.size()) || !fd.close()) return cannotWrite(errno);
    return {};
  }

  // The space first, beyond the old end without moving it, so that a full
  // disk or quota is found while the old contents are still whole. Where
  // the file system cannot reserve, the write goes ahead unreserved.
  if (!data.empty() && ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(data.size())) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
    const int code = errno;
    if (created) ::unlink(path.c_str());
    return cannotWrite(code);
  }
  // Over the old contents from the start, then the old tail cut off:
  // truncating first would free the reserved space again.
  if (!writeAll(fd.get(), data.data(), data.size()) || ::ftruncate(fd.get(), static_cast<off_t>(data.size())) != 0 ||
      ::fsync(fd.get()) != 0) {
    const int code = errno;
    if (::ftruncate(fd.get(), 0) == 0) ::fsync(fd.get());
    if (created) ::unlink(path.c_str());
    return cannotWrite(code);
  }
  // After a successful fsync the data are on the disk; a failing close
  // cannot take them back.
  return {};
}

FileReplacement::FileReplacement(std::string target, std::string temporary)
    : target_(std::move(target)), temporary_(std::move(temporary)) {}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::exchange(other.temporary_, {})) {}

FileReplacement::~FileReplacement() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

ErrorOr<FileReplacement> FileReplacement::prepare(const std::string& target, std::string_view data, mode_t mode) {
  auto fail = [&target](std::string message, int code) {
    return Error{ErrorKind::FileWrite, "file", std::move(message), target, code};
  };
  const std::string folder = parentFolder(target);
  std::string temporary = joinPath(folder, baseName(target) + ".tmp-XXXXXX");
  Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    const int code = errno;
    return fail("cannot create a file in " + folder + ": " + reason(code), code);
  }
  // From here the temporary file is removed by the replacement's destructor.
  FileReplacement replacement(target, std::move(temporary));
  const bool written = ::fchmod(fd.get(), mode) == 0 &&
                       writeAll(fd.get(), reinterpret_cast<const std::uint8_t*>(data.data()), data.size()) &&
                       ::fsync(fd.get()) == 0 && fd.close();
  if (!written) {
    const int code = errno;
    return fail("cannot write: " + reason(code), code);
  }
  return replacement;
}

ErrorOr<void> FileReplacement::commit() {
  if (temporary_.empty()) return Error{ErrorKind::FileWrite, "file", "nothing prepared to replace it", target_, 0};
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int code = errno;
    return Error{ErrorKind::FileWrite, "file", "cannot replace the file: " + reason(code), target_, code};
  }
  temporary_.clear();
  // The rename is durable only once the folder is on disk too. If that
  // flush fails the new contents are still in place for every reader.
  const int folder = ::open(parentFolder(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return {};
}

void removeAbandonedReplacements(const std::string& target) {
  const std::string folder = parentFolder(target);
  const std::string prefix = baseName(target) + ".tmp-";
  auto names = detail::readDirectoryNames(folder);
  if (!names) return;
  for (const std::string& name : *names) {
    // Exactly what mkostemp makes from the pattern: six characters more.
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
      ::unlink(joinPath(folder, name).c_str());
    }
  }
}

}  // namespace plat::sys
