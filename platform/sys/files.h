// Whole files read and written, each way once for the platform layer: the
// bounded read of a regular file (pictures, the preferences file), the write
// in place (the rendered PNG) and the atomic replace (the preferences file).
// What the bytes mean, and locking between writers, are the callers'
// business. Errors are values; nothing here tells the error sink, prints or
// follows a policy of its own about which file may be written: the caller
// names it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace plat::sys {

// The folder part of a path ("." for a bare name, "/" for a name in the
// root) and its last component.
std::string parentFolder(const std::string& path);
std::string baseName(const std::string& path);

struct FileContents {
  std::unique_ptr<std::uint8_t[]> data;  // `size` bytes; never null
  std::size_t size = 0;
  struct stat status {};  // of the file that was read, taken on its open descriptor
};

// The whole regular file at `path` (a link is followed), if it holds at most
// `maxBytes`. A folder, FIFO, device or socket under the name is refused
// without being opened: opening a device can have effects of its own and a
// FIFO would block; O_NONBLOCK and a second check on the descriptor cover an
// entry swapped in between. A file that changes while it is read gives what
// was there. Failures are an Error of `kind` from `origin`, with a message
// complete for a person: "cannot be read: <reason>" with the errno (ENOENT
// when nothing is there, also at the end of a dangling link), "a folder, not
// a file" (EISDIR), "not a regular file", or "larger than 1 MiB" (the cap).
ErrorOr<FileContents> readRegularFile(const std::string& path, std::size_t maxBytes, ErrorKind kind,
                                      const char* origin);

// Writes `data` as the whole content of the file at `path`, in place: a
// symbolic link is written through and stays; an existing file keeps its
// inode, owner, mode and hard links; a new file gets mode 0666 less the
// umask; a device or a pipe with a reader is written into. An existing
// regular file changes only once its new size is reserved on the disk, so a
// full disk or quota fails the call with the old contents whole. A write
// that fails part-way anyway (an I/O error, or a file system that cannot
// reserve space) leaves no partial data: the file is cut back to empty, and
// removed when this call made it. The old contents are not restored: the
// failure that stopped the write would most likely stop the restore too.
// The data are flushed to disk before a regular file counts as written. A
// FIFO with no reader fails at once rather than blocking. Errors are of kind
// FileWrite, origin "file", naming `path` and saying what a person can do
// about it ("the folder ... does not exist", "the path is a folder", "no
// room on the disk", "cannot write: <reason>").
ErrorOr<void> writeFileInPlace(const std::string& path, std::span<const std::uint8_t> data);

// The atomic, durable replace of a file, in two steps so that a caller can
// act between them (set the old file aside): prepare() writes the new
// contents to a temporary file beside the target (its name followed by
// ".tmp-" and six characters) with `mode` and flushes it to disk; commit()
// renames it over the target and flushes the folder. A reader sees the old
// file or the new one, never a mix, and a crash leaves one of them. A
// replacement that is dropped before its commit removes its temporary file.
// The target must be the file itself: a rename replaces a link, not what it
// leads to. Errors are of kind FileWrite, origin "file".
class FileReplacement {
 public:
  static ErrorOr<FileReplacement> prepare(const std::string& target, std::string_view data, mode_t mode);
  ErrorOr<void> commit();

  FileReplacement(FileReplacement&& other) noexcept;
  FileReplacement& operator=(FileReplacement&&) = delete;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

 private:
  FileReplacement(std::string target, std::string temporary);
  std::string target_;
  std::string temporary_;  // empty once committed or moved from
};

// Removes the temporary files of replacements of `target` that were never
// committed or dropped (a writer that died in between); those of a target
// whose name begins with a dot are hidden and stay. Only for a caller
// that holds a lock over every writer of `target`: another writer's
// prepared file would go too.
void removeAbandonedReplacements(const std::string& target);

}  // namespace plat::sys
