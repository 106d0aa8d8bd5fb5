#include "folders/MRUStringList.h"

#include "platform/Errors.h"
#include "platform/File.h"

#include <utility>

namespace {

[[noreturn]] void IndexError(int index) {
    throw ListError(Format("List index out of bounds (%d)", index));
}

} // namespace

void TMRUStringList::Changed() {
    if (updateCount_ == 0) Dirty = true;
}

int TMRUStringList::Compare(std::string_view a, std::string_view b) const {
    return platform::CompareText(a, b);
}

void TMRUStringList::Grow() {
    int delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
    capacity_ += delta;
}

void TMRUStringList::SetMaxStrings(int value) {
    if (value < 1) return;
    while (Count() > value) Delete(Count() - 1);
    maxStrings_ = value;
}

void TMRUStringList::SetSorted(bool value) {
    if (value == sorted_) return;
    if (value) Sort();
    sorted_ = value;
}

const std::string& TMRUStringList::Get(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return items_[index];
}

int TMRUStringList::Add(const std::string& s) {
    if (sorted_) {
        int index;
        if (Find(s, index)) {
            if (Duplicates == DuplicatesMode::Reject)
                throw ListError("String list does not allow duplicates");
            if (Duplicates == DuplicatesMode::Accept) InsertAt(index, s);
        } else {
            InsertAt(index, s);
        }
        // The search is sure only of entries in the order in force, which
        // SetSorted with OrderMRU or a change of Order does not give.
        distinct_ = false;
        // A sorted list is never trimmed: its limit follows the storage.
        SetMaxStrings(capacity_);
        return index;
    }

    const int index = IndexOf(s);
    if (index == 0) return 0;
    if (index > 0) Delete(index);
    InsertAt(0, s); // an equal entry's place, in the new spelling
    if (index == -1 && Count() >= maxStrings_) Delete(Count() - 1);
    // Compared with every entry, s keeps them distinct under the comparison
    // in force: what is known holds while that is the one it was known under.
    if (distinct_ && Count() > 1) CheckComparison();
    return 0;
}

void TMRUStringList::Insert(int index, const std::string& s) {
    if (sorted_) throw ListError("Operation not allowed on sorted string list");
    if (index < 0 || index > Count()) IndexError(index);
    InsertAt(index, s);
    // Unlike Add, Insert does not look for an equal entry.
    if (Count() > 1) distinct_ = false;
}

void TMRUStringList::InsertAt(int index, const std::string& s) {
    if (Count() == capacity_) Grow();
    items_.insert(items_.begin() + index, s);
    Changed();
}

void TMRUStringList::Delete(int index) {
    if (index < 0 || index >= Count()) IndexError(index);
    items_.erase(items_.begin() + index);
    Changed();
}

void TMRUStringList::Clear() {
    memo_.windows.clear();
    memo_.bytes = 0;
    distinct_ = true;
    if (items_.empty()) return;
    std::vector<std::string>().swap(items_);
    capacity_ = 0;
    Changed();
}

int TMRUStringList::IndexOf(const std::string& s) const {
    if (sorted_) {
        int index;
        return Find(s, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (Compare(items_[i], s) == 0) return i;
    return -1;
}

bool TMRUStringList::Find(const std::string& s, int& index) const {
    bool found = false;
    int lo = 0;
    int hi = Count() - 1;
    while (lo <= hi) {
        int mid = static_cast<int>((static_cast<unsigned>(lo) + static_cast<unsigned>(hi)) / 2);
        int c = Compare(items_[mid], s);
        if (Order == OrderRevSort) c = -c;
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (Duplicates != DuplicatesMode::Accept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

void TMRUStringList::Sort() {
    if (sorted_ || Count() < 2 || Order == OrderMRU) return;
    QuickSort(0, Count() - 1);
    Changed();
}

// Not stable: the pivot is the middle entry. Recurses into the smaller part
// and loops on the larger, so the depth stays logarithmic.
void TMRUStringList::QuickSort(int left, int right) {
    const int direction = Order == OrderRevSort ? -1 : 1;
    while (left < right) {
        const std::string pivot = items_[left + (right - left) / 2];
        int i = left;
        int j = right;
        while (i <= j) {
            while (direction * Compare(items_[i], pivot) < 0) ++i;
            while (direction * Compare(items_[j], pivot) > 0) --j;
            if (i <= j) {
                if (i != j) items_[i].swap(items_[j]);
                ++i;
                --j;
            }
        }
        if (j - left < right - i) {
            QuickSort(left, j);
            left = i;
        } else {
            QuickSort(i, right);
            right = j;
        }
    }
}

void TMRUStringList::CheckComparison() {
    std::string comparison = platform::ComparisonIdentity();
    if (memo_.comparison == comparison) return;
    memo_ = MergeMemo{std::move(comparison), {}, 0};
    distinct_ = false;
}

void TMRUStringList::KeepOnly(const std::vector<char>& keep) {
    CheckComparison();
    if (sorted_ || !distinct_) {
        // Each Add goes to the top, so this holds them reversed, and Assign
        // turns them back; the limits leave room for all of them (at its
        // limit Add would push one out).
        TMRUStringList kept;
        kept.SetMaxStrings(Count() + 1);
        for (int i = 0; i < Count(); ++i)
            if (keep[i]) kept.Add(items_[i]);
        SetMaxStrings(kept.Count() + 1);
        Assign(kept);
        return;
    }
    // Distinct entries: the Adds would find no equal entry, so nothing needs
    // comparing. The menu runs this at every display.
    UpdateBracket change(*this);
    std::vector<std::string> kept;
    for (int i = 0; i < Count(); ++i)
        if (keep[i]) kept.push_back(std::move(items_[i]));
    const bool cleared = !items_.empty();
    items_ = std::move(kept);
    // The limit and the storage as the new list's Assign sets them: its
    // Clear drops the storage of a list that holds entries.
    maxStrings_ = Count() + 1;
    if (cleared) capacity_ = 0;
    while (capacity_ < Count()) Grow();
}

void TMRUStringList::Assign(const TMRUStringList& source) {
    // Assigning a list to itself must not read from the list being cleared.
    std::vector<std::string> own;
    const std::vector<std::string>& strings = &source == this ? (own = items_) : source.items_;
    UpdateBracket outer(*this);
    Clear();
    UpdateBracket inner(*this);
    for (const std::string& s : strings) Add(s);
}
