#pragma once
// The hive file on disk: what identifies one version of it, reading it whole,
// and replacing it atomically. Private to the registry.

#include <cstdint>
#include <string>

namespace tolvar {

// Identifies one version of the file: a change by hand or by another program
// alters at least one of these.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeSec = 0;
    std::int64_t mtimeNsec = 0;

    bool operator==(const FileStamp&) const = default;
};

// Throws RegistryError when the file is there but cannot be examined.
FileStamp StatHiveFile(const std::string& path);

struct HiveFileContent {
    FileStamp stamp;  // of the version read
    std::string bytes;
};

// A missing file reads as not existing and empty. Throws RegistryError when
// it cannot be read.
HiveFileContent ReadHiveFile(const std::string& path);

// Writes a temporary file in the same folder, flushes it to disk and renames it
// over path, creating the folder when missing. A symbolic link at path stays and
// its target is replaced. On failure throws RegistryError and leaves the old
// file as it was. Returns the stamp of the file written.
FileStamp WriteHiveFile(const std::string& path, const std::string& text);

}  // namespace tolvar
