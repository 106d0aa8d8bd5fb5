// The bytes read are kept only when a later change of the file must change
// its stamp: the file holds few enough of them; it lies on a local drive,
// whose own clock stamps its writes (a share's server keeps its own clock);
// and its last write is older than the reading by more than the coarsest
// stamp a file system keeps (FAT's 2 s, and a margin). No one writes the file
// while it is open for the merge, so any later write comes after the reading
// and gets a later stamp; a rewrite of the same size within the same tick
// as the write before, or a file replaced by another, shows too (a new file
// has its own creation time). A stamp set back by hand (a copy that keeps
// the source's time) is beyond this, as is a clock set back between two
// writes; so is a writer that holds the file open without writing.
#include "folders/FolderListFile.h"

#include "folders/ExistenceTests.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

// A list of folders some ten times as long as the menu shows.
constexpr std::size_t KeptBytesLimit = 16 * 1024;
// In 100 ns: FAT's 2 s ticks, twice over.
constexpr std::uint64_t SameTickSpan = 4 * 10000000ull;

struct KeptFile {
    std::string path;
    platform::FileStamp stamp;
    std::string bytes;
    bool kept = false;
};
KeptFile Kept;

// The kept bytes, as the file gave them.
class KeptSource : public Stream {
public:
    explicit KeptSource(std::string_view bytes) : bytes_(bytes) {}
    std::size_t Read(void* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    bool Seek(std::uint64_t position) override {
        at_ = static_cast<std::size_t>(std::min<std::uint64_t>(position, bytes_.size()));
        return true;
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// The file, copying what the merge reads up to a limit. Bytes read again
// after a seek would not be the file's order: then nothing is kept.
class CopyingSource : public Stream {
public:
    CopyingSource(platform::File& file, std::size_t limit) : file_(file), limit_(limit), copying_(limit > 0) {}
    std::size_t Read(void* buffer, std::size_t size) override {
        const std::size_t n = file_.Read(buffer, size);
        if (copying_ && copy_.size() + n <= limit_)
            copy_.append(static_cast<const char*>(buffer), n);
        else if (copying_)
            StopCopying();
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    bool Seek(std::uint64_t position) override {
        StopCopying();
        return file_.Seek(position);
    }
    bool Copied() const { return copying_; }
    std::string Take() { return std::move(copy_); }

private:
    void StopCopying() {
        copying_ = false;
        copy_.clear();
    }
    platform::File& file_;
    std::size_t limit_;
    bool copying_;
    std::string copy_;
};

} // namespace

void MergeFolderListFile(TMRUStringList& list, const std::string& path, const platform::FileStamp& stamp) {
    if (Kept.kept && Kept.stamp == stamp && Kept.path == path) {
        KeptSource source(Kept.bytes);
        list.MergeFromStream(source);
        return;
    }
    ForgetFolderListFile();
    platform::File file = platform::File::Open(path, platform::File::Mode::ReadSharedRead);
    // The stamp of the bytes read: no one writes the file while it is open.
    const platform::FileStamp read = file.Stamp();
    const bool keep = read.size <= KeptBytesLimit && read.written + SameTickSpan < platform::SystemTime() &&
                      !MayAnswerSlowly(path);
    CopyingSource source(file, keep ? KeptBytesLimit : 0);
    list.MergeFromStream(source);
    file.Close();
    if (source.Copied()) Kept = {path, read, source.Take(), true};
}

void ForgetFolderListFile() { Kept = {}; }
