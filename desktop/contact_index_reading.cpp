// The reading side of the contact index, on a thread of its own: the
// address book's files and their cards' numbers, the index built whole and
// then kept up to date file by file.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <utility>

#include "desktop/contact_index_shared.h"
#include "desktop/phone_number.h"
#include "desktop/vcard.h"

namespace tolvar {

namespace fs = std::filesystem;

namespace contact_files {

bool IsVcfName(std::string_view name) {
    if (name.size() < 4) return false;
    std::string ext(name.substr(name.size() - 4));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".vcf";
}

std::optional<std::string> Stamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
           std::to_string(st.st_mode);
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t offset,
                                         std::size_t length) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    // Only plain files: a pipe or device named *.vcf would block or never end.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) {
        close(fd);
        return std::nullopt;
    }
    std::string text(std::min<std::size_t>(length, static_cast<std::size_t>(st.st_size)), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n =
            pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    text.resize(got);
    return text;
}

}  // namespace contact_files

using namespace contact_files;

namespace {

// The numbers of one file's cards, each with its card's bytes.
std::vector<std::pair<std::string, Place>> ReadCards(const std::string& path, std::uint32_t id) {
    std::vector<std::pair<std::string, Place>> found;
    const auto text = ReadSmallFile(path);
    if (!text) return found;
    for (const auto& placed : ParseVCardsPlaced(*text)) {
        const Place place{id, static_cast<std::uint32_t>(placed.offset),
                          static_cast<std::uint32_t>(placed.length)};
        for (std::size_t i = 0; i < placed.card.phones.size(); ++i) {
            const std::string& n = placed.card.phones[i].compared;
            // A caller's number is digits; whatever else a card holds is never asked for.
            if (!IsDialledNumber(n)) continue;
            const bool seen =
                std::any_of(placed.card.phones.begin(), placed.card.phones.begin() + i,
                            [&](const ContactCard::Phone& p) { return p.compared == n; });
            if (!seen) found.emplace_back(n, place);
        }
    }
    return found;
}

void LowerOwnPriority() {
    // Only what nothing else wants of the processor: a call's handling never waits for it.
    sched_param param{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace

std::thread StartThread(std::function<void()> fn) {
    return std::thread(std::move(fn));
}

void ContactIndex::Shared::Post(std::function<void(ContactIndex&)> fn) {
    post([self = shared_from_this(), fn = std::move(fn)] {
        if (self->owner) fn(*self->owner);
    });
}

int ContactIndex::Shared::Build(const std::string& book, std::uint64_t gen, Index& into,
                                FileStates& files) {
    std::error_code ec;
    const auto status = fs::status(book, ec);
    if (ec) return ec.value();
    std::vector<std::string> names;
    if (fs::is_directory(status)) {
        into.folder = book;
        for (fs::directory_iterator it(book, ec), end; !ec && it != end; it.increment(ec))
            if (IsVcfName(it->path().filename().string()))
                names.push_back(it->path().filename().string());
        if (ec) return ec.value();
    } else {
        const fs::path p(book);
        into.folder = p.parent_path().string();
        into.only = p.filename().string();
        names.push_back(into.only);
    }
    for (const auto& name : names) {
        if (stop || generation != gen) return 0;
        const std::string full = into.folder + "/" + name;
        const auto id = static_cast<std::uint32_t>(into.names.size());
        into.names.push_back(name);
        files[name] = {id, Stamp(full).value_or("")};
        for (auto& [number, place] : ReadCards(full, id))
            into.byNumber[std::move(number)].push_back(place);
    }
    return 0;
}

int ContactIndex::Shared::Refresh(std::set<std::string> names, bool all, FileStates& files) {
    std::string folder;
    std::string only;
    {
        std::lock_guard guard(mutex);
        folder = index.folder;
        only = index.only;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) return errno;
    if (all && !only.empty()) {
        names.insert(only);
    } else if (all) {
        for (const auto& [name, state] : files) names.insert(name);
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (IsVcfName(it->path().filename().string()))
                names.insert(it->path().filename().string());
        if (ec) return ec.value();
    }
    std::vector<std::uint32_t> gone;
    std::vector<std::uint32_t> removed;
    std::vector<std::pair<std::string, Place>> added;
    std::vector<std::pair<std::string, std::uint32_t>> newFiles;
    for (const auto& name : names) {
        if (stop) return 0;
        const std::string full = folder + "/" + name;
        const auto stamp = Stamp(full);
        const auto known = files.find(name);
        if (known != files.end() && stamp && *stamp == known->second.stamp) continue;
        if (known != files.end()) {
            gone.push_back(known->second.id);
            if (!stamp) {
                removed.push_back(known->second.id);
                files.erase(known);
                continue;
            }
        }
        if (!stamp) continue;
        std::uint32_t id;
        if (known != files.end()) {
            id = known->second.id;
            known->second.stamp = *stamp;
        } else {
            std::lock_guard guard(mutex);
            id = static_cast<std::uint32_t>(index.names.size() + newFiles.size());
            newFiles.emplace_back(name, id);
            files[name] = {id, *stamp};
        }
        auto cards = ReadCards(full, id);
        added.insert(added.end(), std::make_move_iterator(cards.begin()),
                     std::make_move_iterator(cards.end()));
    }
    std::lock_guard guard(mutex);
    for (const auto& [name, id] : newFiles) {
        if (index.names.size() <= id) index.names.resize(id + 1);
        index.names[id] = name;
    }
    if (!gone.empty()) {
        // One pass over the index for all files read again.
        std::sort(gone.begin(), gone.end());
        for (auto it = index.byNumber.begin(); it != index.byNumber.end();) {
            std::erase_if(it->second, [&](const Place& p) {
                return std::binary_search(gone.begin(), gone.end(), p.file);
            });
            it = it->second.empty() ? index.byNumber.erase(it) : std::next(it);
        }
        for (const auto id : removed) index.names[id].clear();
    }
    for (auto& [number, place] : added) index.byNumber[std::move(number)].push_back(place);
    return 0;
}

void ContactIndex::Shared::Work() {
    LowerOwnPriority();
    FileStates files;
    std::unique_lock lock(mutex);
    while (true) {
        wake.wait(lock, [&] { return stop || rebuild || rescanAll || !changed.empty(); });
        if (stop) return;
        const std::uint64_t gen = generation;
        if (rebuild) {
            rebuild = false;
            rescanAll = false;
            changed.clear();
            const std::string book = path;
            lock.unlock();
            Index fresh;
            FileStates freshFiles;
            const int error = Build(book, gen, fresh, freshFiles);
            lock.lock();
            if (stop || generation != gen) continue;  // another address book was chosen meanwhile
            // Swapped in whole: a lookup sees the old index or the new one, never half of one.
            if (error == 0) {
                index = std::move(fresh);
                files = std::move(freshFiles);
            } else {
                index = Index{};
                files.clear();
            }
            Post([gen, error](ContactIndex& o) { o.Built(gen, error); });
        } else {
            auto names = std::exchange(changed, {});
            const bool all = std::exchange(rescanAll, false);
            lock.unlock();
            const int error = Refresh(std::move(names), all, files);
            lock.lock();
            if (generation == gen) Post([gen, error](ContactIndex& o) { o.Built(gen, error); });
        }
    }
}

}  // namespace tolvar
