// LoadFromFile's merge against adding the same lines one by one through Add:
// the fuzz target drives it with libFuzzer's bytes natively, a unit test with
// random bytes under Windows, where the comparison is the system's.
#pragma once

#include "folders/MRUStringList.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace merge_differential {

// Letters in both cases, non-ASCII letters with their case pairs (code page
// 1252), characters the comparison may ignore, line ends and Ctrl-Z.
inline const char* const Tokens[] = {"a", "A", "b", "B", "\xE4", "\xC4", "\xE9", "\xC9", "\xAD", "\x01", "-",
                                     "C:\\", "c:\\", "\r\n", "\r\n", "\r", "\n", "\r\n\r\n", "\x1A"};

// Serves the bytes in pieces of the given sizes; a read at failAt fails,
// with an I/O error or out of memory, and with lasting every read after it
// too (a drive gone). A seekable one can go back, as a file; once it has, a
// read at againFailAt fails too (a share reconnecting).
class PieceStream : public Stream {
public:
    PieceStream(const std::string& data, const std::vector<std::size_t>& pieces, std::size_t failAt,
                bool outOfMemory = false, bool seekable = false, bool lasting = false)
        : data_(data), pieces_(pieces), failAt_(failAt), outOfMemory_(outOfMemory), seekable_(seekable),
          lasting_(lasting) {}
    std::size_t againFailAt = SIZE_MAX;
    bool FailedAgain() const { return failedAgain_; }

    std::size_t Read(void* buffer, std::size_t size) override {
        if (back_ && pos_ >= againFailAt) {
            failedAgain_ = true;
            Fail(outOfMemory_);
        }
        if (pos_ >= failAt_ || failed_) {
            failed_ = lasting_;
            Fail(outOfMemory_);
        }
        std::size_t n = std::min({size, data_.size() - pos_, failAt_ - pos_, pieces_[reads_++ % pieces_.size()]});
        std::memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    bool Seek(std::uint64_t position) override {
        if (!seekable_) return false;
        back_ = back_ || position < pos_;
        pos_ = static_cast<std::size_t>(std::min<std::uint64_t>(position, data_.size()));
        return true;
    }
    [[noreturn]] static void Fail(bool outOfMemory) { outOfMemory ? throw std::bad_alloc() : throw IOError(1117); }

private:
    const std::string& data_;
    const std::vector<std::size_t>& pieces_;
    std::size_t failAt_;
    bool outOfMemory_;
    bool seekable_;
    bool lasting_;
    bool failed_ = false;
    bool back_ = false;
    bool failedAgain_ = false;
    std::size_t pos_ = 0;
    std::size_t reads_ = 0;
};

// The lines by the file rules, and whether the data ended at a Ctrl-Z. Only
// complete lines when the data was cut by a read error.
inline std::vector<std::string> FileLines(const std::string& data, bool complete, bool& ctrlZ) {
    std::vector<std::string> lines;
    std::string line;
    ctrlZ = false;
    for (std::size_t i = 0; i < data.size() && !ctrlZ; ++i) {
        if (data[i] == '\r') {
            lines.push_back(line);
            line.clear();
            if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
        } else if (!(ctrlZ = data[i] == 26)) {
            line += data[i];
        }
    }
    if (!line.empty() && (ctrlZ || !complete)) lines.push_back(line);
    return lines;
}

inline std::string Describe(const TMRUStringList& list, const std::string& error) {
    std::string out = error + " Dirty " + std::to_string(list.Dirty) + " MaxStrings " + std::to_string(list.MaxStrings());
    for (int i = 0; i < list.Count(); ++i) out += " [" + list.Get(i) + "]";
    return out;
}

// Whether the data's last lines alone decide a merge into the list: its
// tail's complete lines hold more distinct lines than the list has room for.
inline bool TailDecides(const TMRUStringList& list, const std::string& data) {
    const std::size_t tail = platform::MergeWindowBytes() / 8;
    const std::size_t cr = data.find('\r', data.size() > tail ? data.size() - tail : 0);
    if (cr == std::string::npos) return false;
    bool ctrlZ;
    const std::vector<std::string> lines = FileLines(data.substr(cr), true, ctrlZ);
    const std::size_t room = std::max(list.Count(), list.MaxStrings() - 1);
    std::vector<std::string> distinct;
    for (auto line = lines.rbegin(); line + 1 != lines.rend() && distinct.size() <= room; ++line)
        if (std::none_of(distinct.begin(), distinct.end(),
                         [&](const std::string& s) { return platform::CompareText(s, *line) == 0; }))
            distinct.push_back(*line);
    return distinct.size() > room;
}

// The pruning as its steps go: the kept entries added one by one to a new
// list, which is then assigned.
inline void KeepByAssign(TMRUStringList& list, const std::vector<char>& keep) {
    TMRUStringList kept;
    kept.SetMaxStrings(list.Count() + 1);
    for (int i = 0; i < list.Count(); ++i)
        if (keep[i]) kept.Add(list.Get(i));
    list.SetMaxStrings(kept.Count() + 1);
    list.Assign(kept);
}

// Natively the comparison can be made to tell letter case, and ignores it
// again at the end; under Windows it is the user's own.
struct CaseRule {
    void Ignore(bool ignore) {
#ifndef _WIN32
        platform::SetComparisonIgnoresCase(ignore);
#endif
        (void)ignore;
    }
    ~CaseRule() { Ignore(true); }
};

// Draws a list, a file (its lines repeated, so that it can span windows) and
// a read error from the bytes; merges the file twice (the second time as the
// next display does) and then once more cut short, on a list that may hold
// equal entries (Insert, Accept, another comparison) or be cleared before a
// merge; after a merge, KeepOnly may prune it as the display does. Returns
// the first difference between the merge and the Adds, or "".
inline std::string Check(const std::uint8_t* data, std::size_t size, int repeats) {
    std::size_t pos = 0;
    auto byte = [&] { return pos < size ? data[pos++] : 0; };
    const int max = 1 + byte() % 30;
    const int seeded = byte() % 30;
    const bool sorted = byte() % 8 == 0;
    const int failByte = byte();
    // events: four bits a merge (Clear, the comparison changes, sorted mode
    // ends; a pruning after it), then two before each later merge (Adds).
    const int build = byte(), low = byte(), events = low | byte() << 8, kept = byte();
    // Accepted, a long file's every line would stay in a sorted list.
    const bool inserted = build & 1, accept = build & 2 && repeats == 1, outOfMemory = build & 8, seekable = build & 16,
               lasting = build & 32, reconnects = build & 64;
    bool ignoreCase = !(build & 4);
    std::vector<std::size_t> pieces = {4096};
    for (int i = byte() % 4; i > 0; --i) pieces.push_back(1 + byte() * 16);
    std::string file;
    while (pos < size) file += Tokens[byte() % (sizeof Tokens / sizeof *Tokens)];
    // Repeated, it keeps its Ctrl-Z to the last copy, so that the data is
    // long enough for the merge's windows and its tail.
    std::string once = file, last = std::move(file);
    once.erase(std::remove(once.begin(), once.end(), '\x1A'), once.end());
    for (file.clear(); repeats > 1; --repeats) file += once;
    file += last;
    // Mostly inside the file.
    const std::size_t failAt = 1 + failByte * (file.size() + 1) / 200;

    CaseRule rule;
    rule.Ignore(ignoreCase);
    TMRUStringList merged, added;
    for (TMRUStringList* list : {&merged, &added}) {
        if (accept) list->Duplicates = DuplicatesMode::Accept;
        for (int i = 0; i < seeded; ++i) {
            const std::string s(1 + i / 13, *Tokens[i % 13]);
            if (inserted) list->Insert(0, s);
            else list->Add(s);
        }
        list->SetMaxStrings(max);
        if (sorted) {
            list->Order = OrderSort;
            list->SetSorted(true);
        }
    }
    int merge = 0;
    for (const std::size_t cut : {file.size() + 1, file.size() + 1, failAt}) {
        const int event = events >> 4 * merge++;
        if (event & 2) rule.Ignore(ignoreCase = !ignoreCase);
        const int between = merge > 1 ? events >> (8 + 2 * merge) & 3 : 0;
        for (TMRUStringList* list : {&merged, &added}) {
            if (event & 1) list->Clear();
            if (event & 4) list->SetSorted(false);
            // Adds that may make equal entries: in sorted mode, into entries
            // that need not be in order, and under the other comparison.
            const bool wasSorted = list->Sorted();
            if (between & 1) list->SetSorted(true), list->Add("B"), list->SetSorted(wasSorted);
            if (between & 2) rule.Ignore(!ignoreCase), list->Add("a"), rule.Ignore(ignoreCase);
        }
        std::string mergeError, addError;
        merged.Dirty = added.Dirty = false;
        // An error that lasts keeps the lines before a tail that does not
        // decide from being read again: the list may stay as it was.
        const bool mayHoldLess = lasting && cut <= file.size() && !TailDecides(merged, file.substr(0, cut));
        const std::string before = Describe(merged, "");
        PieceStream stream(file, pieces, cut, outOfMemory, seekable, lasting);
        // Read again from the start, the data fails part-way this time.
        if (reconnects) stream.againFailAt = failAt;
        try {
            merged.MergeFromStream(stream);
        } catch (const std::exception& e) {
            mergeError = e.what();
        }
        bool ctrlZ = false;
        if (cut <= file.size()) FileLines(file.substr(0, cut), true, ctrlZ);
        const bool fails = cut <= file.size() && !ctrlZ;
        try {
            // A second read that failed leaves the list as it was.
            if (!stream.FailedAgain())
                for (const std::string& line : FileLines(file.substr(0, cut), fails, ctrlZ)) added.Add(line);
            if (fails || stream.FailedAgain()) PieceStream::Fail(outOfMemory);
        } catch (const std::exception& e) {
            addError = e.what();
        }
        std::string a = Describe(merged, mergeError), b = Describe(added, addError);
        if (a != b && mayHoldLess && a == addError + before) return "";
        if (a != b) return "merge: " + a + "\nadds:  " + b;
        if (!(event & 8)) continue;
        std::vector<char> keep(merged.Count());
        for (std::size_t i = 0; i < keep.size(); ++i) keep[i] = kept >> i % 8 & 1;
        merged.KeepOnly(keep);
        KeepByAssign(added, keep);
        a = Describe(merged, "kept"), b = Describe(added, "kept");
        if (a != b) return "KeepOnly: " + a + "\nassigned: " + b;
        for (TMRUStringList* list : {&merged, &added}) list->SetMaxStrings(max);
    }
    // The storage shows in the limit a sorted Add sets.
    for (TMRUStringList* list : {&merged, &added}) list->SetSorted(true), list->Add("\x7F");
    return merged.MaxStrings() == added.MaxStrings() ? "" : "capacity " + std::to_string(merged.MaxStrings()) + " against " + std::to_string(added.MaxStrings());
}

} // namespace merge_differential
