#include "export/VantroList.h"

#include "folders/FolderList.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <cstring>

namespace {

// The runtime's code for a write that the system took short without
// reporting an error of its own: "Disk full".
constexpr unsigned SHORT_WRITE_ERROR = 101;
constexpr unsigned ACCESS_DENIED = 5;
constexpr unsigned SHARING_VIOLATION = 32;
constexpr unsigned LOCK_VIOLATION = 33;

// Lines go to the file in 128-byte blocks: whenever the buffer is full and
// at the close. A failing write is therefore reported at the line (or the
// close) that flushed the buffer.
template <typename Output>
void WriteWhole(Output& output, const char* data, std::size_t size) {
    while (size > 0) {
        // The system may take part of a block; offer it the rest. Only a
        // write that takes nothing and reports nothing ends the attempt.
        const std::size_t taken = output.Write(data, size);
        if (taken == 0) throw IOError(SHORT_WRITE_ERROR);
        data += taken;
        size -= taken;
    }
}

// The bytes gathered, for a file that must be written in one go.
struct Bytes {
    std::string bytes;
    std::size_t Write(const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), size);
        return size;
    }
};

template <typename Output>
class LineWriter {
public:
    explicit LineWriter(Output& output) : output_(output) {}

    void WriteLine(const std::string& text) {
        Put(text.data(), text.size());
        Put("\r\n", 2);
    }

    void Flush() {
        const std::size_t used = used_;
        used_ = 0;
        WriteWhole(output_, buffer_, used);
    }

private:
    void Put(const char* data, std::size_t size) {
        while (size > 0) {
            std::size_t room = sizeof buffer_ - used_;
            std::size_t part = size < room ? size : room;
            std::memcpy(buffer_ + used_, data, part);
            used_ += part;
            data += part;
            size -= part;
            if (used_ == sizeof buffer_) Flush();
        }
    }

    Output& output_;
    char buffer_[128];
    std::size_t used_ = 0;
};

template <typename Output>
void WriteLines(const TMRUStringList& list, Output& output) {
    LineWriter<Output> writer(output);
    writer.WriteLine(VANTRO_LIST_SIGNATURE);
    const int count = list.Count();
    for (int i = 0; i < count; ++i) writer.WriteLine(list.Get(i));
    writer.Flush();
}

// The old file for writing over it; what refuses that leaves the replacing's
// refusal as the reason.
platform::File OpenInPlace(const std::string& path, const IOError& refused) {
    try {
        return platform::File::Open(path, platform::File::Mode::RewriteShareRead);
    } catch (const IOError&) {
        throw refused;
    }
}

} // namespace

void WriteVantroList(const TMRUStringList& list, const std::string& path) {
    // The name goes to the system whole: a name it cannot create is its
    // error to report, never a reason to write under a shortened name.
    platform::ReplacingFile file(path, platform::File::Mode::CreateShareRead);
    WriteLines(list, file);
    // A failed step above leaves the new file to ReplacingFile's destructor,
    // which removes it before the error reaches the caller.
    file.Commit();
}

void WriteVantroList(const std::string& path) {
    if (RecentFolders) WriteVantroList(*RecentFolders, path);
}

void WriteOwnVantroList(const TMRUStringList& list, const std::string& path) {
    Bytes content;
    WriteLines(list, content);
    const char* data = content.bytes.data();
    const std::size_t size = content.bytes.size();
    try {
        platform::ReplacingFile file(path, platform::File::Mode::CreateShareRead,
                                     platform::ReplacingFile::Into::Name);
        WriteWhole(file, data, size);
        file.Commit();
    } catch (const IOError& refused) {
        // A reader (Vantro with the last list) holds the old file and does
        // not let it be removed or renamed over; where it lets it be
        // written, the new list goes over the old one, and only then is the
        // rest of the old one cut off: a full drive never leaves it empty.
        // The new bytes reach the disk before the new length does, which a
        // file system may otherwise commit first.
        const unsigned code = refused.Code();
        if (code != ACCESS_DENIED && code != SHARING_VIOLATION && code != LOCK_VIOLATION) throw;
        platform::File file = OpenInPlace(path, refused);
        if (file.Write(data, size) != size) throw IOError(SHORT_WRITE_ERROR);
        file.Flush();
        file.SetEnd();
        file.Flush();
        file.Close();
    }
}
