#pragma once
// The entries of one caller node: from which time of day on which action
// applies to its calls.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvar {

// Action codes; the index of the text in the editor's action list.
inline constexpr std::int32_t kActionAus = 0;
inline constexpr std::int32_t kActionAusfuehren = 1;
inline constexpr std::int32_t kActionSound = 2;
inline constexpr std::int32_t kActionAbfangen = 3;
inline constexpr std::int32_t kActionSmsAn = 4;
inline constexpr std::int32_t kActionAbheben = 5;  // pick up; its list item has no caption

struct TActionItem {
    double StartTime = 0.0;  // fraction of a day; only the time of day counts
    std::int32_t Action = kActionAus;
    std::string Param;  // empty when the action has none
};

// An ordered list that owns its entries. Entries live on the heap, so a
// reference to one stays valid while the list is sorted.
class TActionList {
  public:
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }

    // Checked: an index past the end raises TolvarError.
    TActionItem& operator[](std::size_t index);
    const TActionItem& operator[](std::size_t index) const;

    // Room for count entries without growing.
    void Reserve(std::size_t count) { items_.reserve(count); }
    // Appends an entry (by default a new one: 00:00, "Aus", no parameter).
    TActionItem& Add(TActionItem item = {});
    // Frees and removes one entry; an index past the end raises TolvarError.
    void Delete(std::size_t index);

    // Ascending by StartTime. Quicksort with the middle element as pivot that
    // exchanges out-of-place pairs: not stable, entries with equal start times
    // may change places. The lookup picks the later of two equal entries, so
    // this order is part of the behaviour and kept as it is.
    void SortEntries();

  private:
    void QuickSort(std::ptrdiff_t left, std::ptrdiff_t right);

    std::vector<std::unique_ptr<TActionItem>> items_;
};

// The entry in force at timeOfDay: walking from the last entry to the first,
// the first one not later than timeOfDay; if all start later, the last one
// (yesterday's latest entry holds until today's first). Nothing for an empty
// list. Works on the list's current order.
std::optional<std::size_t> SelectEntry(const TActionList& list, double timeOfDay);

}  // namespace tolvar
