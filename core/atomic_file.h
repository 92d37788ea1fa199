#pragma once
// Replacing a file so that a crash or a full disk never leaves a truncated or
// empty one where a good one was: a temporary file beside it, flushed, then
// renamed over it.

#include <sys/stat.h>

#include <optional>
#include <string>

namespace tolvar {

// Writes bytes to path. The folder is created when missing; a symbolic link at
// path stays and its target is replaced; the old file's permissions are kept
// (a new file is private, 0600). On failure the old file is as it was and the
// system's error text is returned. written, when given, gets the status of the
// file written.
std::optional<std::string> WriteFileAtomically(const std::string& path, const std::string& bytes,
                                               struct stat* written = nullptr);

}  // namespace tolvar
