#include "export/VantroList.h"

#include "folders/FolderList.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <cstring>

namespace {

// The runtime's code for a write that the system took short without
// reporting an error of its own: "Disk full".
constexpr unsigned SHORT_WRITE_ERROR = 101;

// Lines go to the file in 128-byte blocks: whenever the buffer is full and
// at the close. A failing write is therefore reported at the line (or the
// close) that flushed the buffer.
class LineWriter {
public:
    explicit LineWriter(platform::ReplacingFile& file) : file_(file) {}

    void WriteLine(const std::string& text) {
        Put(text.data(), text.size());
        Put("\r\n", 2);
    }

    void Flush() {
        const char* data = buffer_;
        std::size_t left = used_;
        used_ = 0;
        while (left > 0) {
            // The system may take part of a block; offer it the rest. Only a
            // write that takes nothing and reports nothing ends the attempt.
            std::size_t taken = file_.Write(data, left);
            if (taken == 0) throw IOError(SHORT_WRITE_ERROR);
            data += taken;
            left -= taken;
        }
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

    platform::ReplacingFile& file_;
    char buffer_[128];
    std::size_t used_ = 0;
};

} // namespace

void WriteVantroList(const TMRUStringList& list, const std::string& path, platform::ReplacingFile::Into into) {
    // The name goes to the system whole: a name it cannot create is its
    // error to report, never a reason to write under a shortened name.
    platform::ReplacingFile file(path, platform::File::Mode::CreateShareRead, into);
    LineWriter writer(file);
    writer.WriteLine(VANTRO_LIST_SIGNATURE);
    const int count = list.Count();
    for (int i = 0; i < count; ++i) writer.WriteLine(list.Get(i));
    writer.Flush();
    // A failed step above leaves the new file to ReplacingFile's destructor,
    // which removes it before the error reaches the caller.
    file.Commit();
}

void WriteVantroList(const std::string& path, platform::ReplacingFile::Into into) {
    if (RecentFolders) WriteVantroList(*RecentFolders, path, into);
}
