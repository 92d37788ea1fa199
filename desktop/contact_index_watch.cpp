// The contact index's watch on the address book: inotify's events on the
// engine's event loop, changes that come together read together, and a look
// at every file's stamp where no watch is to be had.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "desktop/contact_index_shared.h"

namespace tolvar {

namespace fs = std::filesystem;

using namespace contact_files;

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
