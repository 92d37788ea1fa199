#include "rules/action_list.h"

#include <string>
#include <utility>

#include "core/error.h"

namespace tolvar {

namespace {

// Three-way comparison by plain floating-point comparison.
int CompareStart(double a, double b) {
    if (a < b) return -1;
    if (a > b) return 1;
    return 0;
}

[[noreturn]] void IndexError(std::size_t index, std::size_t count) {
    throw TolvarError("Eintrag " + std::to_string(index) + " gibt es nicht (die Liste hat " +
                      std::to_string(count) + " Einträge)");
}

}  // namespace

TActionItem& TActionList::operator[](std::size_t index) {
    if (index >= items_.size()) IndexError(index, items_.size());
    return *items_[index];
}

const TActionItem& TActionList::operator[](std::size_t index) const {
    if (index >= items_.size()) IndexError(index, items_.size());
    return *items_[index];
}

TActionItem& TActionList::Add(TActionItem item) {
    items_.push_back(std::make_unique<TActionItem>(std::move(item)));
    return *items_.back();
}

void TActionList::Delete(std::size_t index) {
    if (index >= items_.size()) IndexError(index, items_.size());
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TActionList::SortEntries() {
    if (items_.size() > 1) QuickSort(0, static_cast<std::ptrdiff_t>(items_.size()) - 1);
}

// The scans need no bounds checks: in the first round the pivot itself stops
// both, and after each exchange the exchanged pair does.
void TActionList::QuickSort(std::ptrdiff_t left, std::ptrdiff_t right) {
    const auto at = [this](std::ptrdiff_t i) -> TActionItem& {
        return *items_[static_cast<std::size_t>(i)];
    };
    std::ptrdiff_t i = left;
    std::ptrdiff_t j = right;
    const double pivot = at(left + (right - left) / 2).StartTime;
    do {
        while (CompareStart(at(i).StartTime, pivot) < 0) ++i;
        while (CompareStart(at(j).StartTime, pivot) > 0) --j;
        if (i <= j) {
            std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
            ++i;
            --j;
        }
    } while (i <= j);
    if (left < j) QuickSort(left, j);
    if (i < right) QuickSort(i, right);
}

std::optional<std::size_t> SelectEntry(const TActionList& list, double timeOfDay) {
    if (list.Empty()) return std::nullopt;
    for (std::size_t i = list.Count(); i-- > 0;)
        if (!(list[i].StartTime > timeOfDay)) return i;
    return list.Count() - 1;
}

}  // namespace tolvar
