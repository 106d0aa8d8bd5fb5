// The list's own text file format: one entry per line, CR LF after each,
// the least recently used entry first.
#include "folders/MRUStringList.h"

#include "platform/Errors.h"
#include "platform/File.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr char CtrlZ = 26;
constexpr std::size_t ReadBufferSize = 4096;
constexpr unsigned SeekError = 25; // ERROR_SEEK

// The first c in [p, end), or end. A word at a time: every byte a merge
// reads is searched for a Ctrl-Z, and the library's search can go a byte at
// a time.
const char* FindByte(const char* p, const char* end, char c) {
    const std::uint32_t ones = 0x01010101u;
    const std::uint32_t pattern = ones * static_cast<unsigned char>(c);
    for (; end - p >= 4; p += 4) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        word ^= pattern; // a zero byte where c is
        if ((word - ones) & ~word & (ones << 7)) break;
    }
    while (p < end && *p != c) ++p;
    return p;
}

} // namespace

// The data a buffer at a time: up to the first Ctrl-Z (nothing after it is
// read), the end of the source, or the limit.
class TMRUStringList::DataReader {
public:
    explicit DataReader(Stream& source, std::uint64_t limit = UINT64_MAX)
        : source_(source), left_(limit), ended_(limit == 0) {}

    // The next bytes; empty once the data has ended. A failed read raises.
    std::string_view Next();
    bool Ended() const { return ended_; }
    // The bytes of data so far.
    std::uint64_t Bytes() const { return bytes_; }
    // Whether the source can be read again (no Ctrl-Z came yet, so the data
    // so far is all that was read).
    bool CanGoBack() { return source_.Seek(bytes_); }

private:
    Stream& source_;
    std::uint64_t left_;
    bool ended_;
    std::uint64_t bytes_ = 0;
    char buffer_[ReadBufferSize];
};

std::string_view TMRUStringList::DataReader::Next() {
    if (ended_) return {};
    const std::size_t size = source_.Read(buffer_, left_ < sizeof buffer_ ? left_ : sizeof buffer_);
    const char* end = FindByte(buffer_, buffer_ + size, CtrlZ);
    const std::size_t taken = end - buffer_;
    left_ -= taken;
    bytes_ += taken;
    ended_ = size == 0 || taken != size || left_ == 0;
    return {buffer_, taken};
}

namespace {

// Loading is true while a load runs and false after it, on every path.
class LoadingScope {
public:
    explicit LoadingScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~LoadingScope() { flag_ = false; }
    LoadingScope(const LoadingScope&) = delete;
    LoadingScope& operator=(const LoadingScope&) = delete;

private:
    bool& flag_;
};

// The whole content goes in one write; a write that takes less, or fails,
// is a stream write error.
template <typename Sink>
void WriteContent(Sink& sink, const std::string& content) {
    if (content.empty()) return;
    std::size_t written = 0;
    try {
        written = sink.Write(content.data(), content.size());
    } catch (const IOError&) {
        written = 0;
    }
    if (written != content.size()) throw StreamError("Stream write error");
}

class FileSource : public Stream {
public:
    explicit FileSource(platform::File& file) : file_(file) {}
    std::size_t Read(void* buffer, std::size_t size) override { return file_.Read(buffer, size); }
    std::size_t Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
    bool Seek(std::uint64_t position) override { return file_.Seek(position); }

private:
    platform::File& file_;
};

// Whatever stands in the way of the save, the old file held open included,
// makes a file that cannot be created.
std::unique_ptr<platform::ReplacingFile> CreateForSave(const std::string& name) {
    try {
        return std::make_unique<platform::ReplacingFile>(name, platform::File::Mode::CreateExclusive);
    } catch (const IOError&) {
        throw StreamError(Format("Cannot create file %s", name.c_str()));
    }
}

} // namespace

std::string TMRUStringList::Serialize() const {
    std::size_t total = 0;
    for (const std::string& s : items_) total += s.size() + 2;
    std::string content;
    content.reserve(total);
    auto append = [&content](const std::string& s) {
        content += s;
        content += "\r\n";
    };
    // Most recently used last, so that reading it back line by line through
    // Add restores the order.
    if (Order == OrderMRU)
        std::for_each(items_.rbegin(), items_.rend(), append);
    else
        std::for_each(items_.begin(), items_.end(), append);
    return content;
}

void TMRUStringList::SaveToFile(const std::string& name) {
    if (!Dirty) return;
    const std::string content = Serialize();
    const auto file = CreateForSave(name);
    WriteContent(*file, content);
    file->Commit();
    // A sorted list stays dirty: its file is not read back in its order.
    if (Order == OrderMRU) Dirty = false;
}

void TMRUStringList::SaveToStream(Stream& stream) {
    if (!Dirty) return;
    WriteContent(stream, Serialize());
    if (Order == OrderMRU) Dirty = false;
}

// Merges the file's lines as Add would one by one, without clearing the list.
// Reads through a fixed buffer and merges a bounded window at a time, so a
// file of any size costs the same memory.
void TMRUStringList::LoadFromFile(const std::string& name) {
    if (platform::FileExists(name)) MergeFile(name);
}

void TMRUStringList::MergeFile(const std::string& name) {
    platform::File file = platform::File::Open(name, platform::File::Mode::ReadSharedRead);
    FileSource source(file);
    MergeFromStream(source);
    file.Close();
}

void TMRUStringList::MergeFromStream(Stream& source) {
    LoadingScope loading(Loading);
    CheckComparison();
    DataReader data(source);
    // When a long file's last lines hold more distinct lines than the list
    // has room for, they alone decide the result: nothing before them stays,
    // and the list ends changed, its storage grown to the full room, whatever
    // it held. So past a tail's worth, data that can be read again is read
    // through to its end, and its last lines are merged first.
    // The tail is kept as the reading passes it: a read error that lasts (a
    // drive gone) could not read it again.
    const std::size_t tail = KnownDistinct() ? TailBytes() : 0;
    std::string last;
    if (MergeWindows(data, tail, true, &last)) return;
    try {
        while (!data.Ended()) {
            last.append(data.Next());
            if (last.size() >= 2 * tail) last.erase(0, last.size() - tail);
        }
    } catch (...) {
        // A failed read ends the data; its open line does not count. Should
        // the lines before the tail be needed and fail to come again, the
        // list stays as it was, and the first failure is the one to report.
        try {
            MergeTail(source, last, data.Bytes(), false);
        } catch (...) {
        }
        throw;
    }
    MergeTail(source, last, data.Bytes(), true);
}

std::size_t TMRUStringList::TailBytes() { return platform::MergeWindowBytes() / 8; }

bool TMRUStringList::MergeWindows(DataReader& data, std::size_t giveUpAt, bool complete, std::string* givenUp) {
    MergeWindow window;
    while (!data.Ended()) {
        std::string_view bytes;
        try {
            bytes = data.Next();
            window.bytes.append(bytes);
        } catch (...) {
            // Whatever failed, a read or the window's growth, the lines read
            // before the failure stay merged; the open one does not.
            Merge(window, false);
            throw;
        }
        if (giveUpAt && window.bytes.size() >= giveUpAt && !data.Ended()) {
            if (window.index == 0 && data.CanGoBack()) {
                *givenUp = std::move(window.bytes);
                return false;
            }
            giveUpAt = 0;
        }
        if (!window.lineEnded) window.lineEnded = bytes.find('\r') != std::string_view::npos;
        if (!data.Ended() && window.Full(sorted_)) Merge(window, false);
    }
    // A last line without a line end still counts; an empty one does not.
    Merge(window, complete);
    return true;
}

void TMRUStringList::MergeTail(Stream& source, const std::string& last, std::uint64_t bytes, bool complete) {
    if (MergeTailAlone(last, complete)) return;
    // No tail decides: the data again from its start, window by window. A
    // read that fails part-way (a share reconnecting) leaves the list as it
    // was: the lines before the failure are not what the data holds.
    if (!source.Seek(0)) throw IOError(SeekError);
    std::vector<std::string> items = items_;
    const int capacity = capacity_, maxStrings = maxStrings_;
    const bool dirty = Dirty, distinct = distinct_;
    try {
        DataReader again(source, bytes);
        MergeWindows(again, 0, complete);
    } catch (...) {
        items_.swap(items);
        capacity_ = capacity;
        maxStrings_ = maxStrings;
        Dirty = dirty;
        distinct_ = distinct;
        throw;
    }
}

bool TMRUStringList::MergeTailAlone(const std::string& last, bool complete) {
    MergeWindow window;
    window.bytes.assign(last, last.size() - std::min(last.size(), TailBytes()));
    // The bytes before the first CR may end a longer line: the merge must
    // decide before it reaches them.
    const std::size_t cr = window.bytes.find('\r');
    if (cr == std::string::npos) return false;
    window.bytes.erase(0, cr);
    window.afterLine = true;
    return Merge(window, complete, true);
}

// Replaces the contents by the stream's lines. An error of the stream comes
// before the Clear, so the list keeps its entries.
void TMRUStringList::LoadFromStream(Stream& stream) {
    LoadingScope loading(Loading);
    UpdateBracket bulk(*this);

    std::string data;
    char buffer[ReadBufferSize];
    while (const std::size_t size = stream.Read(buffer, sizeof buffer)) data.append(buffer, size);

    Clear();
    // c_str() ends in a NUL, and a NUL ends the data.
    const char* p = data.c_str();
    while (*p != '\0') {
        const char* start = p;
        while (*p != '\0' && *p != '\r' && *p != '\n') ++p;
        Add(std::string(start, p));
        if (*p == '\r') ++p;
        if (*p == '\n') ++p;
    }
}
