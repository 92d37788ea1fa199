#pragma once
// What the contact index's source files share: the index itself, what the
// reading thread knows of each file, and the part shared with that thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "desktop/contact_index.h"

namespace tolvar {

namespace contact_files {

// Larger files are no address book (photos included, a card is a few kB).
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

// Where a card lies: its file (an index into the file names) and its bytes.
struct Place {
    std::uint32_t file;
    std::uint32_t offset;
    std::uint32_t length;
};

struct Index {
    std::string folder;
    std::string only;                // the one file kept, when the address book is a file
    std::vector<std::string> names;  // by file; empty once the file is gone
    std::unordered_map<std::string, std::vector<Place>> byNumber;
};

// What the builder knows of each file it read: its number in the index and
// how it looked then.
struct FileState {
    std::uint32_t id;
    std::string stamp;
};
using FileStates = std::unordered_map<std::string, FileState>;

// Whether name ends in ".vcf", in any case.
bool IsVcfName(std::string_view name);
// What changes when a file is rewritten, renamed over or made unreadable.
std::optional<std::string> Stamp(const std::string& path);
// At most length bytes from offset on of a plain file of at most
// kMaxFileBytes; nothing when it cannot be read or is no such file.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t offset = 0,
                                         std::size_t length = kMaxFileBytes);

}  // namespace contact_files

struct ContactIndex::Shared : std::enable_shared_from_this<Shared> {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stop{false};
    // The jobs, guarded by mutex; generation names the address book chosen last.
    std::atomic<std::uint64_t> generation{0};
    std::string path;
    bool rebuild = false;
    std::set<std::string> changed;
    bool rescanAll = false;
    // The index, guarded by mutex.
    contact_files::Index index;
    // Engine's thread only.
    ContactIndex* owner = nullptr;

    void Post(std::function<void(ContactIndex&)> fn);
    void Work();
    // Reads the whole address book; an errno when it cannot be read.
    int Build(const std::string& book, std::uint64_t gen, contact_files::Index& into,
              contact_files::FileStates& files);
    // Reads again the files named (all of them with all); an errno when the folder is gone.
    int Refresh(std::set<std::string> names, bool all, contact_files::FileStates& files);

    std::function<void(std::function<void()>)> post;
};

}  // namespace tolvar
