// What a replacing save does alike on every system: the new file's name
// beside the target, and its removal when the save does not complete.
#include "platform/File.h"

#include "platform/Errors.h"

#include <ctime>

namespace platform {

namespace {

// ERROR_FILE_EXISTS; the POSIX layer gives it for EEXIST.
constexpr unsigned FILE_EXISTS = 80;
constexpr int NAME_TRIES = 100;

// Where to start numbering: two saves rarely start from the same number.
// (The library's clocks would add a tenth to the executable.)
unsigned FirstNumber() { return static_cast<unsigned>(std::time(nullptr)); }

} // namespace

ReplacingFile::ReplacingFile(const std::string& target, File::Mode mode, Into into)
    : target_(target), mode_(mode), into_(into) {
    CheckOld();
    if (!file_) CreateBeside();
}

// A crash between the create and the move leaves a file whose name says
// whose it is.
std::string ReplacingFile::NameBeside(const std::string& target, unsigned number) {
    // By characters: a second byte can be a backslash. A slash never is one.
    std::size_t start = NameStart(target);
    const std::size_t slash = target.find_last_of('/');
    if (slash != std::string::npos && slash >= start) start = slash + 1;
    return target.substr(0, start) + Format("~Folderlane-%08X.tmp", number);
}

void ReplacingFile::CreateBeside() {
    unsigned number = FirstNumber();
    for (int tries = 1;; ++tries, ++number) {
        const std::string name = NameBeside(target_, number);
        try {
            file_ = File::Open(name, File::Mode::CreateNew);
            temporary_ = name;
            return;
        } catch (const IOError& error) {
            if (error.Code() != FILE_EXISTS || tries == NAME_TRIES) throw;
        }
    }
}

ReplacingFile::~ReplacingFile() {
    if (temporary_.empty()) return;
    { File closed = std::move(file_); }
    RemoveFile(temporary_);
}

void ReplacingFile::Commit() {
    if (temporary_.empty()) {
        file_.Close();
        return;
    }
    MoveIntoPlace();
    temporary_.clear();
}

} // namespace platform
