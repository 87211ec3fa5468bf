// File-system helpers the module needs from the platform: a one-level folder
// listing without hidden entries, the home folder, tilde expansion and path
// joining. The listing never opens or stats the entries: what an entry is
// (file, folder, link) is left to whoever uses it. The listing tells the
// error sink (platform/error_sink.h) how it went.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace plat::sys {

// The names directly inside `dir`, in the order the file system returns
// them, without "." and ".." and without hidden names (those that begin with
// a dot). An Error of kind Folder (with the errno) when the folder is
// missing, is not a folder or cannot be read to the end. The sink hears of
// the failure, or of the folder listed and its number of names.
ErrorOr<std::vector<std::string>> listDirectoryNames(const std::string& dir);

namespace detail {
// The same listing, unheard by the sink: for the layer's own housekeeping
// (the preferences store tidying its folder), which is not a listing the
// host should take for the pictures' folder.
ErrorOr<std::vector<std::string>> readDirectoryNames(const std::string& dir);
}  // namespace detail

// $HOME when set and non-empty, else the password database's entry for the
// real user, else "/".
std::string homeDirectory();

// "~" and "~/rest" become the home folder (and rest); "~user" and
// "~user/rest" use that user's home from the password database. Anything
// else, an unknown user included, comes back unchanged.
std::string expandTilde(const std::string& path);

// a + "/" + b without doubling a trailing slash of a; an empty a gives b.
std::string joinPath(const std::string& a, const std::string& b);

}  // namespace plat::sys
