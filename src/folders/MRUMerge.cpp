// The merge of a file's lines into the list. Adding them one by one compares
// every line with every entry; here a window of lines is collapsed from the
// back, so that each line meets only the distinct lines after it, and only
// as many of those as the list has room for. The result is exactly what the
// Adds would have left, on the ground that the comparison is an equivalence
// and the entries are distinct under it (a list with equal entries takes its
// lines through Add): a string byte for byte equal to an entry equals that
// entry and no other, and two strings byte for byte equal to two different
// entries are distinct. The same holds for the strings a window proved
// distinct under the same comparison, so merging the same file again calls
// no comparison at all.
#include "folders/MRUStringList.h"

#include "platform/File.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace {

// Four bytes a step: every line the scan meets is hashed.
std::uint32_t Hash(const char* p, std::size_t n) {
    constexpr std::uint32_t odd = 0x9E3779B9u;
    std::uint32_t h = static_cast<std::uint32_t>(n) * odd;
    auto mix = [&h](std::uint32_t word) { h = ((h << 5 | h >> 27) ^ word) * odd; };
    for (; n >= 4; p += 4, n -= 4) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        mix(word);
    }
    for (; n > 0; ++p, --n) mix(static_cast<unsigned char>(*p));
    return h ^ h >> 15;
}

struct Bytes {
    const char* data;
    std::size_t size;
    std::uint32_t hash;

    Bytes(const char* p, std::size_t n) : data(p), size(n), hash(Hash(p, n)) {}
    std::string_view View() const { return {data, size}; }
    bool operator==(const Bytes& other) const {
        return hash == other.hash && size == other.size && std::memcmp(data, other.data, size) == 0;
    }
};

// Strings in the order added, found by their bytes: open addressing over a
// power-of-two table kept at most half full.
class ByteIndex {
public:
    int Size() const { return static_cast<int>(strings_.size()); }
    const Bytes& operator[](int index) const { return strings_[index]; }

    // The index of the string with these bytes, or -1.
    int Find(const Bytes& s) const {
        if (slots_.empty()) return -1;
        for (std::size_t slot = Start(s);; slot = Next(slot)) {
            const int index = slots_[slot];
            if (index < 0 || strings_[index] == s) return index;
        }
    }

    // Adds a string the index does not hold yet.
    void Add(const Bytes& s) {
        strings_.push_back(s);
        if (2 * strings_.size() > slots_.size()) {
            slots_.assign(std::max<std::size_t>(16, 2 * slots_.size()), -1);
            for (int i = 0; i < Size(); ++i) Place(i);
        } else {
            Place(Size() - 1);
        }
    }

private:
    std::size_t Start(const Bytes& s) const { return s.hash & (slots_.size() - 1); }
    std::size_t Next(std::size_t slot) const { return (slot + 1) & (slots_.size() - 1); }
    void Place(int index) {
        std::size_t slot = Start(strings_[index]);
        while (slots_[slot] >= 0) slot = Next(slot);
        slots_[slot] = index;
    }

    std::vector<Bytes> strings_;
    std::vector<int> slots_;
};

// A window's lines from the last back, found by searching back for the CRs:
// a merge reads only as far back as it needs.
class LinesBack {
public:
    LinesBack(const std::string& bytes, bool afterLine, bool last)
        : end_(bytes.data() + bytes.size()), first_(afterLine ? After(bytes.data()) : bytes.data()) {
        lastEnd_ = EndBefore(end_);
        next_ = lastEnd_;
        const char* open = lastEnd_ ? After(lastEnd_) : first_;
        if (last && open < end_) open_ = open;
    }

    // The CR that ends the last complete line, or null.
    const char* LastEnd() const { return lastEnd_; }

    // The next line back; false when there is none.
    bool Next(const char*& start, std::size_t& size) {
        const char* stop = open_ ? end_ : next_;
        if (!stop) return false;
        if (open_) open_ = nullptr;
        else next_ = EndBefore(next_);
        start = next_ ? After(next_) : first_;
        size = stop - start;
        return true;
    }

private:
    const char* After(const char* cr) const { return cr + 1 < end_ && cr[1] == '\n' ? cr + 2 : cr + 1; }
    // The last CR before p that ends a line, or null.
    const char* EndBefore(const char* p) const {
        while (p > first_)
            if (*--p == '\r') return p;
        return nullptr;
    }

    const char* end_;
    const char* first_;
    const char* lastEnd_;
    const char* next_;
    const char* open_ = nullptr;
};

constexpr std::size_t MemoBytes = 32 * 1024;
constexpr std::size_t MemoOverhead = 32; // a string's own share, roughly

} // namespace

// Keeps what a window proved while the memo has room.
void TMRUStringList::Remember(std::size_t window, std::vector<std::string> distinct) {
    auto cost = [](const std::vector<std::string>& strings) {
        std::size_t bytes = 0;
        for (const std::string& s : strings) bytes += s.size() + MemoOverhead;
        return bytes;
    };
    if (window > memo_.windows.size()) return;
    if (window == memo_.windows.size()) memo_.windows.emplace_back();
    std::vector<std::string>& kept = memo_.windows[window];
    memo_.bytes -= cost(kept);
    kept.clear();
    if (memo_.bytes + cost(distinct) > MemoBytes) return;
    kept = std::move(distinct);
    memo_.bytes += cost(kept);
}

void TMRUStringList::TakeProofs(TMRUStringList& other) {
    CheckComparison();
    KnownDistinct();
    if (memo_.windows.empty() && other.memo_.comparison == memo_.comparison) memo_ = std::move(other.memo_);
}

bool TMRUStringList::KnownDistinct() {
    if (!sorted_ && !distinct_) distinct_ = EntriesDistinct();
    return !sorted_ && distinct_;
}

bool TMRUStringList::EntriesDistinct() const {
    for (int i = 1; i < Count(); ++i)
        for (int j = 0; j < i; ++j)
            if (Compare(items_[i], items_[j]) == 0) return false;
    return true;
}

bool TMRUStringList::MergeWindow::Full(bool sorted) const {
    // A sorted list takes each line through Add as it comes. Short of the
    // limit by a read, so that the bytes never outgrow it (but for a line
    // longer than that).
    const std::size_t limit = platform::MergeWindowBytes();
    return lineEnded && (sorted || bytes.size() + 4096 >= limit);
}

bool TMRUStringList::Merge(MergeWindow& window, bool last, bool decidedOnly) {
    LinesBack back(window.bytes, window.afterLine, last);
    auto finish = [&] {
        // The rest starts at the CR that ended the last line merged.
        if (back.LastEnd()) {
            window.bytes.erase(0, back.LastEnd() - window.bytes.data());
            window.afterLine = true;
        }
        window.lineEnded = false;
        ++window.index;
    };
    auto text = [](const Bytes& line) { return std::string(line.View()); };
    const char* start;
    std::size_t size;
    const bool entriesDistinct = KnownDistinct();
    if (decidedOnly && !entriesDistinct) return false;
    if (!entriesDistinct) {
        // A sorted list takes each line through Add as it comes, and so does
        // a list with equal entries: which of them a line meets is Add's.
        std::vector<std::string_view> lines;
        while (back.Next(start, size)) lines.emplace_back(start, size);
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) Add(std::string(*line));
        finish();
        return true;
    }

    // Strings known pairwise distinct, by their bytes: the entries as the
    // window starts, and what the same window proved last time.
    auto index = [](const std::vector<std::string>& strings) {
        ByteIndex found;
        for (const std::string& s : strings) found.Add(Bytes(s.data(), s.size()));
        return found;
    };
    const ByteIndex entries = index(items_);
    ByteIndex proved;
    if (window.index < memo_.windows.size()) proved = index(memo_.windows[window.index]);

    // From the last line back: the distinct lines, the most recent first,
    // each spelt as the first line of its last run (a line equal to the top
    // entry leaves the top as it is). Beyond the room of the list, an older
    // distinct line proves that no older line and no entry stays.
    const int room = std::max(Count(), maxStrings_ - 1);
    ByteIndex keys;
    std::vector<int> entryOf;        // the entry each key is spelt as, or -1
    std::vector<int> provedAs;       // the proved string each key is spelt as, or -1
    std::vector<Bytes> spelling;     // the line that gives each key its spelling
    int run = -1;                    // the key whose last run the scan is in
    std::optional<std::string> stop; // the line that ended the scan
    while (!stop && back.Next(start, size)) {
        const Bytes s(start, size);
        int key = keys.Find(s);
        const int entry = key < 0 ? entries.Find(s) : -1;
        const int known = key < 0 ? proved.Find(s) : -1;
        auto apart = [&](int k) { return (entry >= 0 && entryOf[k] >= 0) || (known >= 0 && provedAs[k] >= 0); };
        for (int k = 0; key < 0 && k < keys.Size(); ++k)
            if (!apart(k) && Compare(keys[k].View(), s.View()) == 0) key = k;
        if (key >= 0) {
            if (key == run) spelling[key] = s;
            else run = -1;
        } else if (keys.Size() < room) {
            keys.Add(s);
            entryOf.push_back(entry);
            provedAs.push_back(known);
            spelling.push_back(s);
            run = keys.Size() - 1;
        } else {
            stop = text(s);
        }
    }
    if (decidedOnly && !stop) return false;
    if (keys.Size() == 0 && !stop) { // no line
        finish();
        return true;
    }
    std::vector<std::string> proven;
    for (int k = 0; k < keys.Size(); ++k) proven.emplace_back(keys[k].View());
    if (stop) proven.push_back(*stop);
    Remember(window.index, std::move(proven));

    const int count = Count();
    std::vector<std::string> merged;
    // All the room at once: entries moved in below must not be lost to a
    // failed growth.
    merged.reserve(spelling.size() + count);
    for (const Bytes& line : spelling) merged.push_back(text(line));
    bool changed = true;
    bool trimmed = stop.has_value();
    if (!stop) {
        // Every distinct line is known: place the entries among them. A key
        // spelt as an entry is that entry; the others may equal one that no
        // key is spelt as.
        std::vector<char> taken(count, 0);
        for (int entry : entryOf)
            if (entry >= 0) taken[entry] = 1;
        std::vector<int> match = entryOf;
        for (int k = 0; k < keys.Size(); ++k)
            for (int e = 0; match[k] < 0 && e < count; ++e)
                if (!taken[e] && Compare(items_[e], keys[k].View()) == 0) {
                    match[k] = e;
                    taken[e] = 1;
                }
        const int distinct = keys.Size() + count - static_cast<int>(std::count(taken.begin(), taken.end(), 1));
        const int kept = std::max(count, std::min(distinct, maxStrings_ - 1));
        // A run from the first line that equals the top entry never moved it.
        const bool onTop = run >= 0 && count > 0 && match[run] == 0;
        changed = !(onTop && keys.Size() == 1);
        if (onTop) merged[run] = items_[0];
        for (int e = 0; changed && e < count && static_cast<int>(merged.size()) < kept; ++e)
            if (!taken[e]) merged.push_back(std::move(items_[e]));
        trimmed = distinct > kept;
    }

    if (changed) {
        // The storage grows as the Adds would have grown it: up to the count
        // reached, and one more while an Add pushed the last entry out.
        const int peak = static_cast<int>(merged.size()) + (trimmed ? 1 : 0);
        while (capacity_ < peak) Grow();
        items_ = std::move(merged);
        Changed();
    }
    finish();
    return true;
}
