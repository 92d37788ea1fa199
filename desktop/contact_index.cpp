// The contact index on the engine's thread: the address book chosen, a
// caller's number looked up and its card read, and what a reading's outcome
// tells the user.
#include "desktop/contact_index.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "core/front_end.h"
#include "desktop/contact_index_shared.h"
#include "desktop/vcard.h"

namespace tolvar {

using namespace contact_files;

namespace {

bool CarriesNumber(const ContactCard& card, const std::string& number) {
    return std::any_of(card.phones.begin(), card.phones.end(),
                       [&](const ContactCard::Phone& p) { return p.compared == number; });
}

}  // namespace

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

}  // namespace tolvar
