// The merge of a file's lines into the list. Adding them one by one compares
// every line with every entry; here a window of lines is collapsed from the
// back, so that each line meets only the distinct lines after it, and only
// as many of those as the list has room for. The result is exactly what the
// Adds would have left, on the ground that the entries are distinct under the
// comparison, which is an equivalence: a string byte for byte equal to an
// entry equals that entry and no other.
#include "folders/MRUStringList.h"

#include "platform/File.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t MemoBytes = 32 * 1024;
constexpr std::size_t MemoOverhead = 32; // a string's own share, roughly

// A string taking part in a merge, with what is known of it without a call
// to the comparison.
struct Seen {
    const char* data;
    std::size_t size;
    std::uint32_t hash;
    int known; // its index in the memo's window, or -1

    Seen(const char* p, std::size_t n, const std::vector<std::string>* memo) : data(p), size(n), hash(2166136261u), known(-1) {
        for (std::size_t i = 0; i < n; ++i) hash = (hash ^ static_cast<unsigned char>(p[i])) * 16777619u;
        if (memo)
            for (std::size_t i = 0; i < memo->size() && known < 0; ++i)
                if (SameBytes((*memo)[i])) known = static_cast<int>(i);
    }
    explicit Seen(const std::string& s, const std::vector<std::string>* memo = nullptr) : Seen(s.data(), s.size(), memo) {}

    std::string Text() const { return std::string(data, size); }
    bool SameBytes(const std::string& s) const { return s.size() == size && std::memcmp(s.data(), data, size) == 0; }
    bool SameBytes(const Seen& s) const { return s.hash == hash && s.size == size && std::memcmp(s.data, data, size) == 0; }
    // Two spellings the memo holds apart were found distinct before.
    bool KnownApart(const Seen& s) const { return known >= 0 && s.known >= 0 && known != s.known; }
};

// The first of the candidates equal to s: a byte for byte equal one needs no
// comparison, and then no other can be equal.
template <typename Compare, typename Skip>
int FindEqual(const Seen& s, const std::vector<Seen>& candidates, Compare compare, Skip skip) {
    const int count = static_cast<int>(candidates.size());
    for (int i = 0; i < count; ++i)
        if (!skip(i) && candidates[i].SameBytes(s)) return i;
    for (int i = 0; i < count; ++i)
        if (!skip(i) && !candidates[i].KnownApart(s) && compare(candidates[i].Text(), s.Text()) == 0) return i;
    return -1;
}

} // namespace

// A window's result and the line that proved older lines out of reach are
// pairwise distinct; kept while the memo has room.
void TMRUStringList::Remember(std::size_t window, const std::vector<std::string>& found, const std::string* stop) {
    auto cost = [](const std::string& s) { return s.size() + MemoOverhead; };
    std::size_t bytes = stop ? cost(*stop) : 0;
    for (const std::string& s : found) bytes += cost(s);
    if (window < memo_.windows.size()) {
        for (const std::string& s : memo_.windows[window]) memo_.bytes -= cost(s);
        memo_.windows[window].clear();
    } else if (window > memo_.windows.size() || memo_.bytes + bytes > MemoBytes) {
        return;
    } else {
        memo_.windows.emplace_back();
    }
    if (memo_.bytes + bytes > MemoBytes) return;
    std::vector<std::string>& kept = memo_.windows[window];
    kept = found;
    if (stop) kept.push_back(*stop);
    memo_.bytes += bytes;
}

bool TMRUStringList::MergeWindow::Full(bool sorted) const {
    // A sorted list takes each line through Add as it comes. Short of the
    // limit by a read, so that the bytes never outgrow it (but for a line
    // longer than that).
    static const std::size_t limit = platform::MergeWindowBytes();
    return sorted || bytes.size() + 4096 >= limit || ends.size() >= limit / 32;
}

void TMRUStringList::Merge(MergeWindow& window) {
    const int lines = static_cast<int>(window.ends.size());
    auto lineStart = [&](int i) { return i == 0 ? 0 : window.ends[i - 1]; };
    auto text = [&](int i) { return window.bytes.substr(lineStart(i), window.ends[i] - lineStart(i)); };
    auto finish = [&] {
        window.bytes.clear();
        window.ends.clear();
        ++window.index;
    };
    if (sorted_) {
        for (int i = 0; i < lines; ++i) Add(text(i));
        return finish();
    }
    if (lines == 0) return finish();

    const std::vector<std::string>* memo =
        window.index < memo_.windows.size() ? &memo_.windows[window.index] : nullptr;
    auto compare = [this](const std::string& a, const std::string& b) { return Compare(a, b); };
    auto none = [](int) { return false; };

    // From the last line back: the distinct lines, the most recent first,
    // each spelt as the first line of its last run (a line equal to the top
    // entry leaves the top as it is). Beyond the room of the list, an older
    // distinct line proves that no older line and no entry stays.
    const int room = std::max(Count(), maxStrings_ - 1);
    std::vector<Seen> keys;
    std::vector<int> spelling; // the line that gives each key its spelling
    int run = -1;              // the key whose last run the scan is in
    int stop = -1;
    for (int i = lines - 1; i >= 0 && stop < 0; --i) {
        const Seen line(window.bytes.data() + lineStart(i), window.ends[i] - lineStart(i), memo);
        const int key = FindEqual(line, keys, compare, none);
        if (key >= 0) {
            if (key == run) spelling[key] = i;
            else run = -1;
        } else if (static_cast<int>(keys.size()) < room) {
            keys.push_back(line);
            spelling.push_back(i);
            run = static_cast<int>(keys.size()) - 1;
        } else {
            stop = i;
        }
    }

    const int count = Count();
    std::vector<std::string> merged;
    for (int line : spelling) merged.push_back(text(line));
    bool changed = true;
    bool trimmed = stop >= 0;
    if (stop < 0) {
        // Every distinct line is known: place the entries among them.
        std::vector<Seen> entries;
        for (const std::string& entry : items_) entries.emplace_back(entry, memo);
        std::vector<char> taken(count, 0);
        std::vector<int> match;
        for (const Seen& key : keys) {
            match.push_back(FindEqual(key, entries, compare, [&](int e) { return taken[e] != 0; }));
            if (match.back() >= 0) taken[match.back()] = 1;
        }
        const int distinct = static_cast<int>(keys.size()) + count - static_cast<int>(std::count(taken.begin(), taken.end(), 1));
        const int kept = std::max(count, std::min(distinct, maxStrings_ - 1));
        // A run from the first line that equals the top entry never moved it.
        const bool onTop = run >= 0 && count > 0 && match[run] == 0;
        changed = !(onTop && keys.size() == 1);
        if (onTop) merged[run] = items_[0];
        for (int e = 0; changed && e < count && static_cast<int>(merged.size()) < kept; ++e)
            if (!taken[e]) merged.push_back(std::move(items_[e]));
        trimmed = distinct > kept;
    }
    const std::string stopLine = stop < 0 ? std::string() : text(stop);
    Remember(window.index, changed ? merged : items_, stop >= 0 ? &stopLine : nullptr);

    if (changed) {
        // The storage grows as the Adds would have grown it: up to the count
        // reached, and one more while an Add pushed the last entry out.
        const int peak = static_cast<int>(merged.size()) + (trimmed ? 1 : 0);
        while (capacity_ < peak) Grow();
        items_ = std::move(merged);
        Changed();
    }
    finish();
}
