// An ordered list of 8-bit strings that keeps the most recently used one
// first and forgets the oldest beyond MaxStrings; it can also keep itself
// sorted, records whether it changed since its last save and reads and
// writes its own text file format (MRUListFile.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum ListOrder { OrderMRU, OrderSort, OrderRevSort };

enum class DuplicatesMode { Ignore, Accept, Reject };

// Where LoadFromStream reads and SaveToStream writes.
class Stream {
public:
    virtual ~Stream() = default;
    // Up to size bytes from the current position; 0 at the end.
    virtual std::size_t Read(void* buffer, std::size_t size) = 0;
    // Returns the bytes taken, which can be fewer than size.
    virtual std::size_t Write(const void* data, std::size_t size) = 0;
    // Moves to the byte at position; false for a stream that cannot go back.
    virtual bool Seek(std::uint64_t) { return false; }
};

class TMRUStringList {
public:
    TMRUStringList() = default;
    TMRUStringList(const TMRUStringList&) = delete;
    TMRUStringList& operator=(const TMRUStringList&) = delete;

    bool Dirty = false;
    bool Loading = false;
    ListOrder Order = OrderMRU;

    int MaxStrings() const { return maxStrings_; }
    void SetMaxStrings(int value);

    bool Sorted() const { return sorted_; }
    void SetSorted(bool value);
    DuplicatesMode Duplicates = DuplicatesMode::Ignore;

    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Get(int index) const;

    int Add(const std::string& s);
    void Insert(int index, const std::string& s);
    void Delete(int index);
    void Clear();
    int IndexOf(const std::string& s) const;
    bool Find(const std::string& s, int& index) const;
    void Sort();
    void Assign(const TMRUStringList& source);
    // Keeps the entries whose flag in keep is set, in their order, as adding
    // them one by one to a new list and assigning that list would: equal
    // entries are joined. One change, whatever went.
    void KeepOnly(const std::vector<char>& keep);

    void LoadFromFile(const std::string& name);
    // LoadFromFile without its existence test, for a caller that made it.
    void MergeFile(const std::string& name);
    void LoadFromStream(Stream& stream);
    // Adds the source's lines as LoadFromFile adds a file's (its line rules,
    // no clearing); a read error reaches the caller after the complete lines
    // before it are merged, or with the list as it was where they had to be
    // read again and that failed.
    void MergeFromStream(Stream& source);
    void SaveToFile(const std::string& name);
    void SaveToStream(Stream& stream);
    // Takes what the other list's merges proved about their lines, which
    // holds for any list under the same comparison, when this one has no
    // proofs of its own.
    void TakeProofs(TMRUStringList& other);

private:
    // A bulk operation: no change is notified until the outermost one
    // closes, and that close notifies once, whether or not anything changed.
    // It closes also when the bracketed work fails.
    class UpdateBracket {
    public:
        explicit UpdateBracket(TMRUStringList& list) : list_(list) { ++list_.updateCount_; }
        ~UpdateBracket() {
            if (--list_.updateCount_ == 0) list_.Changed();
        }
        UpdateBracket(const UpdateBracket&) = delete;
        UpdateBracket& operator=(const UpdateBracket&) = delete;

    private:
        TMRUStringList& list_;
    };

    // Bytes read by LoadFromFile and not yet merged, one window of the file.
    // Its lines end at a CR, an LF right after which belongs to that end.
    struct MergeWindow {
        std::string bytes;
        bool afterLine = false; // bytes opens with the CR that ended the line before
        bool lineEnded = false; // a CR came since the last merge
        std::size_t index = 0;  // which window of the file
        bool Full(bool sorted) const;
    };
    // Strings an earlier merge proved pairwise distinct, by window of the
    // file: the distinct lines of the window and the line that ended its
    // scan. Merging the same file again then needs no comparison, although
    // the list keeps fewer entries than the file has lines.
    struct MergeMemo {
        std::string comparison; // the comparison they were proved under
        std::vector<std::vector<std::string>> windows;
        std::size_t bytes = 0;
    };

    class DataReader;

    void Changed();
    void Grow();
    // Where a merge gives up its first window for the tail.
    static std::size_t TailBytes();
    // Appends the data to a window, merging it whenever it is full, and
    // merges the rest at its end (the open last line too when complete).
    // With giveUpAt, a first window that reaches that size is given up
    // instead, if the source can go back, its bytes put in givenUp and
    // false returned.
    bool MergeWindows(DataReader& data, std::size_t giveUpAt, bool complete, std::string* givenUp = nullptr);
    // Merges the data's `bytes` bytes, whose last ones are `last`, its last
    // lines first: alone when they decide the result, else the whole again
    // from the source, window by window.
    void MergeTail(Stream& source, const std::string& last, std::uint64_t bytes, bool complete);
    // The tail alone; false when it does not decide.
    bool MergeTailAlone(const std::string& last, bool complete);
    // Merges the window's complete lines, and with last the open one, as Add
    // would one by one; leaves the rest in the window (MRUMerge.cpp). With
    // decidedOnly, the window's first line is not the data's: it merges only
    // when more distinct lines than the room come after it, and returns
    // whether it did.
    bool Merge(MergeWindow& window, bool last, bool decidedOnly = false);
    void Remember(std::size_t window, std::vector<std::string> distinct);
    // Compares every pair of entries: the merge's shortcuts need them
    // distinct, and Insert, Accept or another comparison may have made two equal.
    bool EntriesDistinct() const;
    // An unsorted list whose entries are pairwise distinct, proved now if
    // that is not known.
    bool KnownDistinct();
    // What was known or proved under another comparison than the one now in
    // force is forgotten.
    void CheckComparison();
    // Insert without the sorted-mode refusal, for Add.
    void InsertAt(int index, const std::string& s);
    void QuickSort(int left, int right);
    int Compare(std::string_view a, std::string_view b) const;
    std::string Serialize() const;

    std::vector<std::string> items_;
    MergeMemo memo_;
    // The entries are known pairwise distinct under memo_.comparison.
    bool distinct_ = true;
    int capacity_ = 0;
    int maxStrings_ = 16;
    int updateCount_ = 0;
    bool sorted_ = false;
};
