#pragma once
// Moving a file to the desktop's trash (the freedesktop trash: a "files"
// folder for the file and an "info" folder telling where it came from and
// when), so that a file manager can put it back. No Qt: the console front
// end clears its log the same way.

#include <optional>
#include <string>

#include "core/datetime.h"

namespace tolvar {

// The home trash: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
std::string HomeTrashPath();

// Moves the file at path into a trash on its own file system: the home trash
// (homeTrash), else, with mountTrash, its mount's "$topdir/.Trash/UID" (made
// by the administrator, sticky) or "$topdir/.Trash-UID". deletedAt is the
// local time the info file records. Returns the file's new path; nothing when
// no trash takes it, and the file is then where it was. A file is never copied.
std::optional<std::string> MoveToTrash(const std::string& path, const DateTime& deletedAt,
                                       const std::string& homeTrash = HomeTrashPath(),
                                       bool mountTrash = true);

}  // namespace tolvar
