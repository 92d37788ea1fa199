#pragma once
// Lines of text kept close to their size: all text in one buffer, one end
// offset per line. The event log and the ISDN trace grow for years; a string
// object per line would cost about as much again as the text itself.
//
// A store may keep a line end (CR LF for the event log) behind every line in
// its buffer, so that the buffer is the file's content as it stands: loading
// cuts lines where they were read, and saving writes the buffer as it is,
// from a snapshot that another thread may hold while this one goes on.
//
// Lines are appended, and now and then one near the end is replaced (a call's
// line gets its ending); both are cheap there. Buffers grow by an eighth, not
// by doubling, so little stands unused.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar {

class LineStore {
    struct Block;

  public:
    class const_iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        std::string_view operator*() const { return (*store_)[index_]; }
        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++index_;
            return old;
        }
        const_iterator& operator--() {
            --index_;
            return *this;
        }
        const_iterator& operator+=(difference_type n) {
            index_ = static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
            return *this;
        }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.index_ == b.index_;
        }

      private:
        friend class LineStore;
        const_iterator(const LineStore* store, std::size_t index) : store_(store), index_(index) {}
        const LineStore* store_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = const_iterator;
    using value_type = std::string_view;
    using size_type = std::size_t;

    // The bytes of the buffer as they were when it was taken, unchanged by
    // whatever the store does later; another thread may read them.
    class Snapshot {
      public:
        Snapshot() = default;
        Snapshot(const Snapshot& other);
        Snapshot& operator=(const Snapshot& other);
        ~Snapshot();
        std::string_view Bytes() const;

      private:
        friend class LineStore;
        Block* block_ = nullptr;
        std::size_t size_ = 0;
    };

    // lineEnd: what the buffer holds behind every line (at most 2 bytes).
    explicit LineStore(std::string_view lineEnd = {});
    LineStore(std::initializer_list<std::string_view> lines);
    LineStore(const LineStore& other);
    LineStore& operator=(const LineStore& other);
    LineStore(LineStore&& other) noexcept;
    LineStore& operator=(LineStore&& other) noexcept;
    ~LineStore();

    std::size_t size() const { return lines_; }
    bool empty() const { return lines_ == 0; }
    // A view into the buffer, valid until the store next changes.
    std::string_view operator[](std::size_t index) const {
        const std::uint64_t begin = index == 0 ? 0 : ends_[index - 1];
        return {text_ + begin, static_cast<std::size_t>(ends_[index] - begin) - lineEndSize_};
    }
    std::string_view back() const { return (*this)[lines_ - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, lines_}; }

    void Append(std::string_view line);
    // Replaces line index (which must exist); the lines after it move.
    void Replace(std::size_t index, std::string_view line);
    // Empties the store and gives its memory back.
    void Clear();
    // Room for this many bytes of text (line ends included) and lines in all,
    // so that a store filled at once needs no spare room.
    void Reserve(std::size_t textBytes, std::size_t lines);
    // Gives back the room not in use.
    void ShrinkToFit();

    // For a reader that fills the store's own buffer instead of one of its
    // own: room for bytes more bytes behind the text (at buffer position
    // Bytes().size()); what stands there is kept when the room grows. Nothing
    // there is a line until AppendFromRoom takes it.
    char* Room(std::size_t bytes);
    // Appends as a line the length bytes at buffer position (inside the room),
    // followed by the line end: they move to the end of the text, unless they
    // stand there already. Bytes from keep on are not written over: false,
    // and nothing done, if the line and its end would reach them.
    bool AppendFromRoom(std::size_t position, std::size_t length, std::size_t keep);
    // Takes the lines that stand right behind the text, up to end in the
    // room, for as long as each is clean text (see IsCleanText) followed by
    // the line end (which must be CR LF): nothing moves, and no line is
    // looked at twice. Returns where it stopped: the start of the first line
    // not taken.
    std::size_t TakeCleanLines(std::size_t end);

    // The buffer: every line followed by the line end.
    std::string_view Bytes() const { return {text_, textSize_}; }
    Snapshot Share() const;
    // The bytes of the lines themselves, without their line ends.
    std::size_t TextBytes() const { return textSize_ - lines_ * lineEndSize_; }
    // What the store holds on the heap.
    std::size_t MemoryBytes() const {
        return textCapacity_ + endsCapacity_ * sizeof(std::uint64_t);
    }

    // Every line followed by lineEnd, built in one buffer sized in advance.
    std::string Joined(std::string_view lineEnd) const;
    std::vector<std::string> ToVector() const;

    friend bool operator==(const LineStore& a, const LineStore& b);
    friend bool operator==(const LineStore& a, const std::vector<std::string>& b);

  private:
    // The buffer is this store's alone (a snapshot may hold it): copied
    // first if not, before bytes it holds are changed.
    void Own();
    void SetTextCapacity(std::size_t capacity);
    void GrowText(std::size_t needed);
    void GrowEnds(std::size_t needed);

    Block* block_ = nullptr;         // the text, shared with snapshots
    char* text_ = nullptr;           // its bytes
    std::uint64_t* ends_ = nullptr;  // ends_[i]: offset just past line i and its end
    std::size_t textSize_ = 0;
    std::size_t textCapacity_ = 0;
    std::size_t lines_ = 0;
    std::size_t endsCapacity_ = 0;
    char lineEnd_[2] = {};
    std::size_t lineEndSize_ = 0;
};

// For test failure messages.
void PrintTo(const LineStore& lines, std::ostream* os);

}  // namespace tolvar
