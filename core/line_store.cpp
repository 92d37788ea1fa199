#include "core/line_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace tolvar {

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

LineStore::LineStore(std::initializer_list<std::string_view> lines) {
    for (std::string_view line : lines) Append(line);
}

LineStore::LineStore(const LineStore& other) {
    *this = other;
}

LineStore& LineStore::operator=(const LineStore& other) {
    if (this == &other) return *this;
    Clear();
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
    text_ = std::exchange(other.text_, nullptr);
    ends_ = std::exchange(other.ends_, nullptr);
    textSize_ = std::exchange(other.textSize_, 0);
    textCapacity_ = std::exchange(other.textCapacity_, 0);
    lines_ = std::exchange(other.lines_, 0);
    endsCapacity_ = std::exchange(other.endsCapacity_, 0);
    return *this;
}

LineStore::~LineStore() {
    Clear();
}

void LineStore::Clear() {
    std::free(text_);
    std::free(ends_);
    text_ = nullptr;
    ends_ = nullptr;
    textSize_ = textCapacity_ = lines_ = endsCapacity_ = 0;
}

void LineStore::Reserve(std::size_t textBytes, std::size_t lines) {
    if (textBytes > textCapacity_) {
        text_ = Resize(text_, textBytes);
        textCapacity_ = textBytes;
    }
    if (lines > endsCapacity_) {
        ends_ = Resize(ends_, lines);
        endsCapacity_ = lines;
    }
}

void LineStore::ShrinkToFit() {
    if (textCapacity_ > textSize_) {
        text_ = Resize(text_, textSize_);
        textCapacity_ = textSize_;
    }
    if (endsCapacity_ > lines_) {
        ends_ = Resize(ends_, lines_);
        endsCapacity_ = lines_;
    }
}

char* LineStore::Room(std::size_t bytes) {
    Reserve(textSize_ + bytes, 0);
    return text_ + textSize_;
}

void LineStore::AppendFromRoom(std::size_t position, std::size_t length) {
    if (position < textSize_ || length > textCapacity_ || position > textCapacity_ - length)
        throw std::out_of_range("AppendFromRoom outside the room");
    GrowEnds(lines_ + 1);
    if (length > 0 && position != textSize_)
        std::memmove(text_ + textSize_, text_ + position, length);
    textSize_ += length;
    ends_[lines_++] = textSize_;
}

void LineStore::GrowText(std::size_t needed) {
    if (needed <= textCapacity_) return;
    Reserve(NextCapacity(textCapacity_, needed, 4096), 0);
}

void LineStore::GrowEnds(std::size_t needed) {
    if (needed <= endsCapacity_) return;
    Reserve(0, NextCapacity(endsCapacity_, needed, 256));
}

void LineStore::Append(std::string_view line) {
    if (text_ != nullptr && line.data() >= text_ && line.data() < text_ + textCapacity_) {
        // One of its own lines: copied aside, since growing may move the buffer.
        const std::string copy(line);
        Append(copy);
        return;
    }
    GrowText(textSize_ + line.size());
    GrowEnds(lines_ + 1);
    if (!line.empty()) std::memcpy(text_ + textSize_, line.data(), line.size());
    textSize_ += line.size();
    ends_[lines_++] = textSize_;
}

void LineStore::Replace(std::size_t index, std::string_view line) {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    const std::size_t oldEnd = ends_[index];
    const std::size_t newEnd = begin + line.size();
    // line may point into this store: it is copied aside before anything moves.
    const std::string copy(line);
    if (newEnd > oldEnd) GrowText(textSize_ + (newEnd - oldEnd));
    if (textSize_ > oldEnd) std::memmove(text_ + newEnd, text_ + oldEnd, textSize_ - oldEnd);
    if (!copy.empty()) std::memcpy(text_ + begin, copy.data(), copy.size());
    textSize_ = textSize_ - oldEnd + newEnd;
    for (std::size_t i = index; i < lines_; ++i) ends_[i] = ends_[i] - oldEnd + newEnd;
}

std::string LineStore::Joined(std::string_view lineEnd) const {
    std::string out;
    out.resize(textSize_ + lines_ * lineEnd.size());
    char* p = out.data();
    std::size_t begin = 0;
    for (std::size_t i = 0; i < lines_; ++i) {
        const std::size_t n = ends_[i] - begin;
        if (n > 0) std::memcpy(p, text_ + begin, n);
        p += n;
        std::memcpy(p, lineEnd.data(), lineEnd.size());
        p += lineEnd.size();
        begin = ends_[i];
    }
    return out;
}

std::vector<std::string> LineStore::ToVector() const {
    return std::vector<std::string>(begin(), end());
}

bool operator==(const LineStore& a, const LineStore& b) {
    return a.lines_ == b.lines_ && a.textSize_ == b.textSize_ &&
           (a.lines_ == 0 ||
            (std::memcmp(a.ends_, b.ends_, a.lines_ * sizeof(std::uint64_t)) == 0 &&
             (a.textSize_ == 0 || std::memcmp(a.text_, b.text_, a.textSize_) == 0)));
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
