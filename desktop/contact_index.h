#pragma once
// The address book (a folder of vCard files, or one file) kept as an index
// from the numbers its cards carry to where each card lies. One thread of
// low priority reads it when it is chosen and reads again only the files
// that change; a call's lookup is a look into the index on the engine's
// thread, and only the found card is read whole. Changes are seen through
// inotify on the engine's event loop, so the window and the console both
// follow them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/contact_card.h"
#include "core/io_service.h"
#include "core/timer.h"

namespace tolvar {

class Dialogs;

// Starts a thread that runs fn; may throw std::system_error.
using ThreadStarter = std::function<std::thread(std::function<void()>)>;
std::thread StartThread(std::function<void()> fn);

struct ContactIndexHost {
    TimerService& timers;
    IoService& io;
    Dialogs& dialogs;
    // Runs a function on the engine's thread; callable from any thread.
    std::function<void(std::function<void()>)> post;
    ThreadStarter startThread = StartThread;
};

class ContactIndex {
  public:
    // Changes that come together (a sync writing many files) are read together.
    static constexpr std::uint32_t kSettleMs = 500;
    // An address book that cannot be watched is looked at this often.
    static constexpr std::uint32_t kRetryMs = 2000;
    // Calls that arrive before the first index is ready wait; more are not kept.
    static constexpr std::size_t kMaxWaiting = 16;

    using Found = std::function<void(const ContactCard& card, const std::string& file)>;

    ContactIndex(ContactIndexHost host, Found found);
    ~ContactIndex();
    ContactIndex(const ContactIndex&) = delete;
    ContactIndex& operator=(const ContactIndex&) = delete;

    // The address book to keep; empty: none (the index is dropped). The same
    // path again changes nothing. reportMissing: a path that does not exist
    // is worth a box (not so the default folder, which many never create).
    void SetAddressBook(const std::string& path, bool reportMissing = true);
    // found runs for the first card (in file-name order, then in the file)
    // that carries number: at once, or when the first index is ready. An
    // address book that could not be read is read again first if it changed.
    void LookUp(const std::string& number);

    bool Ready() const { return ready_; }
    // How many numbers the index holds.
    std::size_t Numbers() const;

    struct Shared;

  private:
    void EnsureWorker();
    void Built(std::uint64_t generation, int error);
    void Watch();
    void Unwatch();
    void Readable();
    void Settled();
    void RetryTick();
    void Answer(const std::string& number);

    ContactIndexHost h_;
    Found found_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    std::string path_;
    bool reportMissing_ = true;
    std::uint64_t generation_ = 0;
    bool ready_ = false;
    bool broken_ = false;
    bool reported_ = false;
    std::vector<std::string> waiting_;
    // The change watch: inotify's descriptor, the folder watched, and for a
    // single file its name.
    int inotify_ = -1;
    std::string watchedName_;
    std::set<std::string> changed_;
    bool rescanAll_ = false;
    Timer settle_;
    Timer retry_;
    std::optional<std::string> retryStamp_;
};

}  // namespace tolvar
