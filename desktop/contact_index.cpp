#include "desktop/contact_index.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "core/front_end.h"
#include "desktop/phone_number.h"
#include "desktop/vcard.h"

namespace tolvar {

namespace fs = std::filesystem;

namespace {

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

bool IsVcfName(std::string_view name) {
    if (name.size() < 4) return false;
    std::string ext(name.substr(name.size() - 4));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".vcf";
}

// What changes when a file is rewritten, renamed over or made unreadable.
std::optional<std::string> Stamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
           std::to_string(st.st_mode);
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t offset = 0,
                                         std::size_t length = kMaxFileBytes) {
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

bool CarriesNumber(const ContactCard& card, const std::string& number) {
    return std::any_of(card.phones.begin(), card.phones.end(),
                       [&](const ContactCard::Phone& p) { return p.compared == number; });
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
    Index index;
    // Engine's thread only.
    ContactIndex* owner = nullptr;

    void Post(std::function<void(ContactIndex&)> fn);
    void Work();
    // Reads the whole address book; an errno when it cannot be read.
    int Build(const std::string& book, std::uint64_t gen, Index& into, FileStates& files);
    // Reads again the files named (all of them with all); an errno when the folder is gone.
    int Refresh(std::set<std::string> names, bool all, FileStates& files);

    std::function<void(std::function<void()>)> post;
};

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

ContactIndex::ContactIndex(ContactIndexHost host, Found found)
    : h_(std::move(host)),
      found_(std::move(found)),
      shared_(std::make_shared<Shared>()),
      settle_(h_.timers, kSettleMs),
      retry_(h_.timers, kRetryMs) {
    shared_->owner = this;
    shared_->post = h_.post;
    settle_.OnTimer = [this] { Settled(); };
    retry_.OnTimer = [this] { RetryTick(); };
}

ContactIndex::~ContactIndex() {
    shared_->owner = nullptr;
    Unwatch();
    {
        std::lock_guard guard(shared_->mutex);
        shared_->stop = true;
    }
    shared_->wake.notify_all();
    if (worker_.joinable()) worker_.join();
}

void ContactIndex::EnsureWorker() {
    if (worker_.joinable()) return;
    try {
        // The thread holds the shared part, which outlives a posted result.
        worker_ = h_.startThread([s = shared_] { s->Work(); });
    } catch (const std::exception&) {
        // No thread now: nothing is found, and the next lookup tries again.
    }
}

void ContactIndex::SetAddressBook(const std::string& path, bool reportMissing) {
    if (path == path_ && reportMissing == reportMissing_ && (generation_ > 0 || path.empty()))
        return;
    path_ = path;
    reportMissing_ = reportMissing;
    ready_ = false;
    broken_ = false;
    reported_ = false;
    waiting_.clear();
    changed_.clear();
    rescanAll_ = false;
    settle_.SetEnabled(false);
    retry_.SetEnabled(false);
    Unwatch();
    {
        std::lock_guard guard(shared_->mutex);
        shared_->generation = ++generation_;
        shared_->path = path;
        shared_->rebuild = !path.empty();
        shared_->changed.clear();
        shared_->rescanAll = false;
        // The old address book's index goes at once: only one is ever kept.
        shared_->index = Index{};
    }
    shared_->wake.notify_all();
    if (!path.empty()) EnsureWorker();
}

std::size_t ContactIndex::Numbers() const {
    std::lock_guard guard(shared_->mutex);
    return shared_->index.byNumber.size();
}

void ContactIndex::LookUp(const std::string& number) {
    if (path_.empty()) return;
    EnsureWorker();
    if (!worker_.joinable()) return;
    if (broken_) {
        // Tried again once it has changed; the call waits for that reading.
        const auto stamp = Stamp(path_);
        if (stamp == retryStamp_) return;
        retryStamp_ = stamp;
        broken_ = false;
        {
            std::lock_guard guard(shared_->mutex);
            shared_->rebuild = true;
        }
        shared_->wake.notify_all();
    }
    if (!ready_) {
        if (waiting_.size() < kMaxWaiting) waiting_.push_back(number);
        return;
    }
    Answer(number);
}

void ContactIndex::Answer(const std::string& number) {
    std::string name;
    std::string file;
    Place place{};
    {
        std::lock_guard guard(shared_->mutex);
        const Index& index = shared_->index;
        const auto it = index.byNumber.find(number);
        if (it == index.byNumber.end()) return;
        const auto first =
            std::min_element(it->second.begin(), it->second.end(), [&](Place a, Place b) {
                const auto& na = index.names[a.file];
                const auto& nb = index.names[b.file];
                return na != nb ? na < nb : a.offset < b.offset;
            });
        place = *first;
        name = index.names[place.file];
        file = index.folder + "/" + name;
    }
    const auto text = ReadSmallFile(file, place.offset, place.length);
    if (text) {
        const auto cards = ParseVCards(*text);
        if (!cards.empty() && CarriesNumber(cards.front(), number)) {
            found_(cards.front(), file);
            return;
        }
    }
    // The file changed since it was read: the index catches up with it.
    changed_.insert(name);
    settle_.SetEnabled(true);
}

namespace {

std::string ReasonText(int error) {
    switch (error) {
        case ENOENT:
            return "nicht vorhanden";
        case EACCES:
        case EPERM:
            return "keine Berechtigung";
        case ENOTDIR:
            return "kein Ordner";
        default:
            return "Fehler " + std::to_string(error);
    }
}

}  // namespace

void ContactIndex::Built(std::uint64_t generation, int error) {
    if (generation != generation_) return;
    if (error != 0) {
        ready_ = false;
        broken_ = true;
        waiting_.clear();
        Unwatch();
        settle_.SetEnabled(false);
        if (!reported_ && (error != ENOENT || reportMissing_)) {
            reported_ = true;
            h_.dialogs.MessageBox(Dialogs::Kind::Warning,
                                  "Das Adressbuch \"" + path_ + "\" kann nicht gelesen werden (" +
                                      ReasonText(error) +
                                      "). Es wird wieder gelesen, sobald es sich ändert.");
        }
        // Looked at again by the first call after it changed; no timer
        // runs for an address book that may never come.
        retryStamp_ = Stamp(path_);
        return;
    }
    broken_ = false;
    reported_ = false;
    ready_ = true;
    if (inotify_ < 0) Watch();
    for (const auto& number : std::exchange(waiting_, {})) Answer(number);
}

void ContactIndex::Watch() {
    std::error_code ec;
    const bool folder = fs::is_directory(path_, ec);
    const fs::path p(path_);
    const std::string watched = folder ? path_ : p.parent_path().string();
    watchedName_ = folder ? "" : p.filename().string();
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    constexpr std::uint32_t kMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                    IN_CREATE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
    if (inotify_ >= 0 && inotify_add_watch(inotify_, watched.c_str(), kMask) < 0) {
        close(inotify_);
        inotify_ = -1;
    }
    if (inotify_ < 0) {
        // No watch to be had (too many watches, say): every file's stamp is looked at instead.
        retry_.SetEnabled(true);
        return;
    }
    retry_.SetEnabled(false);
    h_.io.Watch(inotify_, [this] { Readable(); });
}

void ContactIndex::Unwatch() {
    if (inotify_ < 0) return;
    h_.io.Unwatch(inotify_);
    close(inotify_);
    inotify_ = -1;
}

void ContactIndex::Readable() {
    alignas(inotify_event) char buffer[16384];
    bool folderGone = false;
    while (inotify_ >= 0) {
        const ssize_t n = read(inotify_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* nameStart = buffer + at + sizeof(inotify_event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (at > n) break;
            if (event.mask & IN_Q_OVERFLOW) rescanAll_ = true;
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) folderGone = true;
            const std::string name(nameStart, strnlen(nameStart, event.len));
            if (name.empty()) {
                // The folder itself: its permissions may have changed.
                if (event.mask & IN_ATTRIB) rescanAll_ = true;
            } else if (watchedName_.empty() ? IsVcfName(name) : name == watchedName_) {
                changed_.insert(name);
            }
        }
    }
    if (folderGone) {
        // Read anew: the folder may be back, or its loss is reported.
        Unwatch();
        changed_.clear();
        rescanAll_ = false;
        settle_.SetEnabled(false);
        {
            std::lock_guard guard(shared_->mutex);
            shared_->rebuild = true;
        }
        shared_->wake.notify_all();
        return;
    }
    if (rescanAll_ || !changed_.empty()) settle_.SetEnabled(true);
}

void ContactIndex::Settled() {
    settle_.SetEnabled(false);
    {
        std::lock_guard guard(shared_->mutex);
        shared_->changed.merge(changed_);
        shared_->rescanAll = shared_->rescanAll || rescanAll_;
    }
    changed_.clear();
    rescanAll_ = false;
    shared_->wake.notify_all();
}

void ContactIndex::RetryTick() {
    if (inotify_ >= 0 || !ready_) return;
    {
        std::lock_guard guard(shared_->mutex);
        shared_->rescanAll = true;
    }
    shared_->wake.notify_all();
}

}  // namespace tolvar
