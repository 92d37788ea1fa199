#include "core/line_store.h"

#include "core/ascii_run.h"
#include "core/charset.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace tolvar {

// The text buffer with a count of its holders: the store and its snapshots.
// Only the store writes, and only bytes no snapshot can see (behind the size
// a snapshot took) or after it has made the buffer its own again.
struct LineStore::Block {
    std::atomic<int> holders{1};
    char* data = nullptr;

    void Hold() { holders.fetch_add(1, std::memory_order_relaxed); }
    // The last holder frees it; a snapshot's reads come before the store's
    // next writes (the store looks at holders with acquire).
    static void Release(Block* block) {
        if (block != nullptr && block->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::free(block->data);
            delete block;
        }
    }
    bool Shared() const { return holders.load(std::memory_order_acquire) > 1; }
};

namespace {

// malloc and realloc rather than new: a large buffer grows by remapping its
// pages instead of copying them.
template <typename T>
T* Resize(T* block, std::size_t count) {
    if (count == 0) {
        std::free(block);
        return nullptr;
    }
    void* grown = std::realloc(block, count * sizeof(T));
    if (grown == nullptr) throw std::bad_alloc();
    return static_cast<T*>(grown);
}

std::size_t NextCapacity(std::size_t capacity, std::size_t needed, std::size_t least) {
    return std::max({needed, capacity + capacity / 8, least});
}

}  // namespace

LineStore::Snapshot::Snapshot(const Snapshot& other) : block_(other.block_), size_(other.size_) {
    if (block_) block_->Hold();
}

LineStore::Snapshot& LineStore::Snapshot::operator=(const Snapshot& other) {
    if (other.block_) other.block_->Hold();
    Block::Release(block_);
    block_ = other.block_;
    size_ = other.size_;
    return *this;
}

LineStore::Snapshot::~Snapshot() {
    Block::Release(block_);
}

std::string_view LineStore::Snapshot::Bytes() const {
    return block_ ? std::string_view(block_->data, size_) : std::string_view();
}

LineStore::LineStore(std::string_view lineEnd) {
    if (lineEnd.size() > sizeof lineEnd_) throw std::invalid_argument("line end too long");
    std::copy(lineEnd.begin(), lineEnd.end(), lineEnd_);
    lineEndSize_ = lineEnd.size();
}

LineStore::LineStore(std::initializer_list<std::string_view> lines) {
    for (std::string_view line : lines) Append(line);
}

LineStore::LineStore(const LineStore& other) {
    *this = other;
}

LineStore& LineStore::operator=(const LineStore& other) {
    if (this == &other) return *this;
    Clear();
    std::copy(std::begin(other.lineEnd_), std::end(other.lineEnd_), lineEnd_);
    lineEndSize_ = other.lineEndSize_;
    Reserve(other.textSize_, other.lines_);
    if (other.textSize_ > 0) std::memcpy(text_, other.text_, other.textSize_);
    if (other.lines_ > 0) std::memcpy(ends_, other.ends_, other.lines_ * sizeof(std::uint64_t));
    textSize_ = other.textSize_;
    lines_ = other.lines_;
    return *this;
}

LineStore::LineStore(LineStore&& other) noexcept {
    *this = std::move(other);
}

LineStore& LineStore::operator=(LineStore&& other) noexcept {
    if (this == &other) return *this;
    Clear();
    block_ = std::exchange(other.block_, nullptr);
    text_ = std::exchange(other.text_, nullptr);
    ends_ = std::exchange(other.ends_, nullptr);
    textSize_ = std::exchange(other.textSize_, 0);
    textCapacity_ = std::exchange(other.textCapacity_, 0);
    lines_ = std::exchange(other.lines_, 0);
    endsCapacity_ = std::exchange(other.endsCapacity_, 0);
    std::copy(std::begin(other.lineEnd_), std::end(other.lineEnd_), lineEnd_);
    lineEndSize_ = other.lineEndSize_;
    return *this;
}

LineStore::~LineStore() {
    Clear();
}

void LineStore::Clear() {
    Block::Release(block_);
    std::free(ends_);
    block_ = nullptr;
    text_ = nullptr;
    ends_ = nullptr;
    textSize_ = textCapacity_ = lines_ = endsCapacity_ = 0;
}

// A buffer of capacity bytes holding the text (and what a reader has put
// into the room behind it): grown or shrunk in place when it is the store's
// alone, else a fresh one that the snapshots leave alone.
void LineStore::SetTextCapacity(std::size_t capacity) {
    if (block_ != nullptr && !block_->Shared()) {
        block_->data = Resize(block_->data, capacity);
        text_ = block_->data;
        textCapacity_ = capacity;
        if (capacity == 0) {
            delete block_;
            block_ = nullptr;
        }
        return;
    }
    Block* fresh = nullptr;
    if (capacity > 0) {
        fresh = new Block;
        fresh->data = static_cast<char*>(std::malloc(capacity));
        if (fresh->data == nullptr) {
            delete fresh;
            throw std::bad_alloc();
        }
        if (textCapacity_ > 0) std::memcpy(fresh->data, text_, std::min(textCapacity_, capacity));
    }
    Block::Release(block_);
    block_ = fresh;
    text_ = fresh ? fresh->data : nullptr;
    textCapacity_ = capacity;
}

void LineStore::Own() {
    if (block_ != nullptr && block_->Shared()) SetTextCapacity(textCapacity_);
}

void LineStore::Reserve(std::size_t textBytes, std::size_t lines) {
    if (textBytes > textCapacity_) SetTextCapacity(textBytes);
    if (lines > endsCapacity_) {
        ends_ = Resize(ends_, lines);
        endsCapacity_ = lines;
    }
}

void LineStore::ShrinkToFit() {
    if (textCapacity_ > textSize_) SetTextCapacity(textSize_);
    if (endsCapacity_ > lines_) {
        ends_ = Resize(ends_, lines_);
        endsCapacity_ = lines_;
    }
}

char* LineStore::Room(std::size_t bytes) {
    Reserve(textSize_ + bytes, 0);
    return text_ + textSize_;
}

bool LineStore::AppendFromRoom(std::size_t position, std::size_t length, std::size_t keep) {
    if (position < textSize_ || length > textCapacity_ || position > textCapacity_ - length ||
        keep > textCapacity_)
        throw std::out_of_range("AppendFromRoom outside the room");
    const std::size_t end = textSize_ + length + lineEndSize_;
    if (end > keep) return false;
    GrowEnds(lines_ + 1);
    char* data = text_;
    if (length > 0 && position != textSize_)
        std::memmove(data + textSize_, data + position, length);
    // Bytes from the line on belong to no snapshot: they lie behind the text.
    if (lineEndSize_ > 0 && std::memcmp(data + textSize_ + length, lineEnd_, lineEndSize_) != 0)
        std::memcpy(data + textSize_ + length, lineEnd_, lineEndSize_);
    textSize_ = end;
    ends_[lines_++] = textSize_;
    return true;
}

std::size_t LineStore::TakeCleanLines(std::size_t end) {
    if (end > textCapacity_) throw std::out_of_range("TakeCleanLines outside the room");
    if (lineEndSize_ != 2 || lineEnd_[0] != '\r' || lineEnd_[1] != '\n') return textSize_;
    // Sixty-four bytes at a time: in a block of plain lines the only bytes
    // that are no printable ASCII are their CR LF ends, found among its bits
    // without a look at each line on its own. A line with bytes from 0x80 up
    // is looked at closer once its end is found.
    const char* const text = text_;
    bool wide = false;  // the line from textSize_ on has bytes from 0x80 up
    char tail[64];
    for (std::size_t block = textSize_; block < end; block += 64) {
        std::uint64_t bits;
        if (end - block >= 64) {
            bits = ascii::NotPrintable64(text + block);
        } else {
            // The last bytes, filled up with printable ones.
            std::memset(tail, 'x', sizeof tail);
            std::memcpy(tail, text + block, end - block);
            bits = ascii::NotPrintable64(tail);
        }
        while (bits != 0) {
            const std::size_t at = block + static_cast<std::size_t>(std::countr_zero(bits));
            bits &= bits - 1;
            // The LF of a line whose CR ended the block before.
            if (at < textSize_) continue;
            if (static_cast<std::uint8_t>(text[at]) >= 0x80) {
                wide = true;
                continue;
            }
            if (text[at] != '\r' || end - at < 2 || text[at + 1] != '\n') return textSize_;
            if (wide && !IsCleanText(std::string_view(text + textSize_, at - textSize_)))
                return textSize_;
            wide = false;
            if (lines_ == endsCapacity_) GrowEnds(lines_ + 1);
            textSize_ = at + 2;
            ends_[lines_++] = textSize_;
            // Its LF, when in this block: the next bit set.
            bits &= bits - 1;
        }
    }
    return textSize_;
}

void LineStore::GrowText(std::size_t needed) {
    if (needed <= textCapacity_) return;
    SetTextCapacity(NextCapacity(textCapacity_, needed, 4096));
}

void LineStore::GrowEnds(std::size_t needed) {
    if (needed <= endsCapacity_) return;
    Reserve(0, NextCapacity(endsCapacity_, needed, 256));
}

void LineStore::Append(std::string_view line) {
    const char* data = text_;
    if (data != nullptr && line.data() >= data && line.data() < data + textCapacity_) {
        // One of its own lines: copied aside, since growing may move the buffer.
        const std::string copy(line);
        Append(copy);
        return;
    }
    // Behind the text, where no snapshot looks: no need to own the buffer.
    GrowText(textSize_ + line.size() + lineEndSize_);
    GrowEnds(lines_ + 1);
    char* at = text_ + textSize_;
    if (!line.empty()) std::memcpy(at, line.data(), line.size());
    if (lineEndSize_ > 0) std::memcpy(at + line.size(), lineEnd_, lineEndSize_);
    textSize_ += line.size() + lineEndSize_;
    ends_[lines_++] = textSize_;
}

void LineStore::Replace(std::size_t index, std::string_view line) {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    const std::size_t oldEnd = ends_[index];
    // line may point into this store: it is copied aside before anything moves.
    std::string copy(line);
    copy.append(lineEnd_, lineEndSize_);
    const std::size_t newEnd = begin + copy.size();
    Own();
    if (newEnd > oldEnd) GrowText(textSize_ + (newEnd - oldEnd));
    char* data = text_;
    if (textSize_ > oldEnd) std::memmove(data + newEnd, data + oldEnd, textSize_ - oldEnd);
    std::memcpy(data + begin, copy.data(), copy.size());
    textSize_ = textSize_ - oldEnd + newEnd;
    for (std::size_t i = index; i < lines_; ++i) ends_[i] = ends_[i] - oldEnd + newEnd;
}

LineStore::Snapshot LineStore::Share() const {
    Snapshot snapshot;
    if (block_ == nullptr) return snapshot;
    block_->Hold();
    snapshot.block_ = block_;
    snapshot.size_ = textSize_;
    return snapshot;
}

std::string LineStore::Joined(std::string_view lineEnd) const {
    std::string out;
    out.resize(TextBytes() + lines_ * lineEnd.size());
    char* p = out.data();
    for (std::string_view line : *this) {
        if (!line.empty()) std::memcpy(p, line.data(), line.size());
        p += line.size();
        if (!lineEnd.empty()) std::memcpy(p, lineEnd.data(), lineEnd.size());
        p += lineEnd.size();
    }
    return out;
}

std::vector<std::string> LineStore::ToVector() const {
    return std::vector<std::string>(begin(), end());
}

bool operator==(const LineStore& a, const LineStore& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

bool operator==(const LineStore& a, const std::vector<std::string>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

void PrintTo(const LineStore& lines, std::ostream* os) {
    *os << lines.size() << " lines {";
    for (std::size_t i = 0; i < lines.size(); ++i) *os << (i ? ", \"" : "\"") << lines[i] << '"';
    *os << '}';
}

}  // namespace tolvar
