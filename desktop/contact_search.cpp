#include "desktop/contact_search.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "desktop/phone_number.h"
#include "desktop/vcard.h"

namespace tolvar {

namespace fs = std::filesystem;

namespace {

// Larger files are no address book (photos included, a card is a few kB).
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

bool IsVcfName(const fs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".vcf";
}

std::optional<std::string> ReadSmallFile(const fs::path& p) {
    std::error_code ec;
    // Only plain files: a pipe or device named *.vcf would block or never end.
    if (!fs::is_regular_file(p, ec) || fs::file_size(p, ec) > kMaxFileBytes || ec)
        return std::nullopt;
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::optional<ContactMatch> FindContact(const std::string& addressBook, const std::string& number,
                                        const std::atomic<bool>* cancel) {
    if (!IsDialledNumber(number) || addressBook.empty()) return std::nullopt;
    std::vector<fs::path> files;
    std::error_code ec;
    if (fs::is_directory(addressBook, ec)) {
        for (fs::directory_iterator it(addressBook, ec), end; !ec && it != end; it.increment(ec))
            if (IsVcfName(it->path())) files.push_back(it->path());
        std::sort(files.begin(), files.end());
    } else {
        files.emplace_back(addressBook);
    }
    for (const auto& file : files) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return std::nullopt;
        const auto text = ReadSmallFile(file);
        if (!text) continue;
        for (auto& card : ParseVCards(*text))
            for (const auto& phone : card.phones)
                if (phone.compared == number) return ContactMatch{std::move(card), file.string()};
    }
    return std::nullopt;
}

// What the lookup threads share with the engine: the way back, closed when
// the engine goes.
struct ContactSearch::Outbox {
    std::mutex mutex;
    Post post;    // guarded by mutex; empty once closed
    Found found;  // engine's thread only
    Finder finder;
    std::atomic<bool> cancel{false};
};

ContactSearch::ContactSearch(Post post, Found found, Finder finder)
    : outbox_(std::make_shared<Outbox>()) {
    outbox_->post = std::move(post);
    outbox_->finder = std::move(finder);
    outbox_->found = std::move(found);
}

ContactSearch::~ContactSearch() {
    outbox_->cancel = true;
    std::lock_guard guard(outbox_->mutex);
    outbox_->post = nullptr;
    outbox_->found = nullptr;
}

void ContactSearch::Start(const std::string& addressBook, const std::string& number) {
    ++started_;
    // The thread owns copies of everything it reads, and ends on its own.
    std::thread([outbox = outbox_, addressBook, number] {
        auto match = outbox->finder(addressBook, number, &outbox->cancel);
        if (!match) return;
        std::lock_guard guard(outbox->mutex);
        if (!outbox->post) return;
        outbox->post([outbox, m = std::make_shared<ContactMatch>(std::move(*match))] {
            // Runs on the engine's thread, where found is cleared too.
            if (outbox->found) outbox->found(*m);
        });
    }).detach();
}

}  // namespace tolvar
