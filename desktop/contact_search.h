#pragma once
// The contact lookup of an incoming call: the address book (a folder of vCard
// files, or one file) searched for a card that carries the caller's number.
// Each lookup runs on a thread of its own, so that a large or slow address
// book never holds up call handling; a card found is handed back to the
// engine's thread. A missing folder or an unreadable card shows nothing.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/contact_card.h"

namespace tolvar {

struct ContactMatch {
    ContactCard card;
    std::string file;
};

// Searches every *.vcf file of the folder (in name order; or the one file
// path names) for the first card with a TEL number that, normalised, equals
// number. Stops early, with nothing, once cancel is set.
std::optional<ContactMatch> FindContact(const std::string& addressBook, const std::string& number,
                                        const std::atomic<bool>* cancel = nullptr);

class ContactSearch {
  public:
    // Runs a function on the engine's thread; called from the lookup threads.
    using Post = std::function<void(std::function<void()>)>;
    using Found = std::function<void(const ContactMatch&)>;
    // The search a lookup thread runs (FindContact; tests wrap it).
    using Finder = std::function<std::optional<ContactMatch>(const std::string&, const std::string&,
                                                             const std::atomic<bool>*)>;

    ContactSearch(Post post, Found found, Finder finder = FindContact);
    // Lookups still running are told to stop, and their results are dropped.
    ~ContactSearch();
    ContactSearch(const ContactSearch&) = delete;
    ContactSearch& operator=(const ContactSearch&) = delete;

    // Starts a lookup and returns at once; found runs later on the engine's
    // thread if a card carries number.
    void Start(const std::string& addressBook, const std::string& number);
    // How many lookups were started.
    std::size_t Started() const { return started_; }

  private:
    struct Outbox;
    std::shared_ptr<Outbox> outbox_;
    std::size_t started_ = 0;
};

}  // namespace tolvar
