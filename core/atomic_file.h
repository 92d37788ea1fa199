#pragma once
// Replacing a file so that a crash or a full disk never leaves a truncated or
// empty one where a good one was: a temporary file beside it, flushed, then
// renamed over it.

#include <sys/stat.h>

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace tolvar {

// Writes bytes to path. The folder is created when missing; a symbolic link at
// path stays and its target is replaced; the old file's permissions are kept
// (a new file is private, 0600). On failure the old file is as it was and the
// system's error text is returned. written, when given, gets the status of the
// file written.
//
// The temporary file is named "." + the file's name + "." + six letters or
// digits, and is held under an exclusive flock until it has been renamed, so
// that RemoveStaleTempFiles can tell a live write from one that was killed.
std::optional<std::string> WriteFileAtomically(const std::string& path, std::string_view bytes,
                                               struct stat* written = nullptr);

// Removes the temporary files that writes to path left behind when the process
// died before renaming them: files beside path (beside its target, for a
// symbolic link) named as above that no live writer holds locked. Nothing else
// is touched. Returns how many were removed; failures only leave files behind.
std::size_t RemoveStaleTempFiles(const std::string& path) noexcept;
std::size_t RemoveStaleTempFiles(std::initializer_list<std::string> paths) noexcept;

}  // namespace tolvar
