// The platform layer on POSIX, for the native tests and sanitizers. Errors
// carry the Windows codes that the product would see for the same failure.
#include "platform/File.h"

#include "platform/Errors.h"

#include "platform/Handle.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr std::intptr_t NoHandle = -1;

unsigned WindowsCode(int error) {
    switch (error) {
    case ENOENT: return 2;                        // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;                       // ERROR_PATH_NOT_FOUND
    case EMFILE: case ENFILE: return 4;           // ERROR_TOO_MANY_OPEN_FILES
    case EACCES: case EPERM: case EISDIR: return 5; // ERROR_ACCESS_DENIED
    case EBADF: return 6;                         // ERROR_INVALID_HANDLE
    case ENOMEM: return 8;                        // ERROR_NOT_ENOUGH_MEMORY
    case EROFS: return 19;                        // ERROR_WRITE_PROTECT
    case ETXTBSY: case EBUSY: return 32;          // ERROR_SHARING_VIOLATION
    case EEXIST: return 80;                       // ERROR_FILE_EXISTS
    case EINVAL: return 87;                       // ERROR_INVALID_PARAMETER
    case ENOSPC: case EDQUOT: return 112;         // ERROR_DISK_FULL
    case ENAMETOOLONG: return 206;                // ERROR_FILENAME_EXCED_RANGE
    case ELOOP: return 1921;                      // ERROR_CANT_RESOLVE_FILENAME
    default: return 1117;                         // ERROR_IO_DEVICE
    }
}

[[noreturn]] void RaiseLastError() { throw IOError(WindowsCode(errno)); }

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

// In Windows' units: 100 ns since 1601.
std::uint64_t Ticks(const timespec& time) {
    constexpr std::uint64_t SecondsFrom1601To1970 = 11644473600;
    return (static_cast<std::uint64_t>(time.tv_sec) + SecondsFrom1601To1970) * 10000000 +
           static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

FileStamp StampOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_size), Ticks(info.st_mtim), static_cast<std::uint64_t>(info.st_ino)};
}

} // namespace

File File::Open(const std::string& name, Mode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::ReadSharedRead: flags |= O_RDONLY; break;
    case Mode::CreateExclusive: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Mode::CreateShareRead: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::CreateScratch:
    case Mode::CreateScratchEncrypted: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    case Mode::RewriteShareRead: flags |= O_WRONLY; break;
    }
    int fd;
    do {
        fd = ::open(name.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseLastError();
    File file(fd);
    // Windows refuses to open a directory as a file; so does this layer.
    struct stat info;
    if (::fstat(fd, &info) != 0) RaiseLastError();
    if (S_ISDIR(info.st_mode)) throw IOError(5);
    return file;
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, NoHandle)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_ != NoHandle) ::close(Descriptor(handle_));
        handle_ = std::exchange(other.handle_, NoHandle);
    }
    return *this;
}

File::~File() {
    if (handle_ != NoHandle) ::close(Descriptor(handle_));
}

std::size_t File::Read(void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(Descriptor(handle_), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) RaiseLastError();
    return static_cast<std::size_t>(n);
}

bool File::Seek(std::uint64_t position) {
    if (::lseek(Descriptor(handle_), static_cast<off_t>(position), SEEK_SET) >= 0) return true;
    if (errno == ESPIPE) return false;
    RaiseLastError();
}

// POSIX may take part of a write; go on until all is taken, as WriteFile
// does, and report a failure only when nothing was taken.
std::size_t File::Write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t total = 0;
    while (total < size) {
        ssize_t n = ::write(Descriptor(handle_), p + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (total > 0) break;
            RaiseLastError();
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

void File::SetEnd() {
    const off_t end = ::lseek(Descriptor(handle_), 0, SEEK_CUR);
    if (end < 0 || ::ftruncate(Descriptor(handle_), end) != 0) RaiseLastError();
}

void File::Flush() {
    if (::fsync(Descriptor(handle_)) != 0) RaiseLastError();
}

void File::Close() {
    const std::intptr_t handle = std::exchange(handle_, NoHandle);
    if (handle != NoHandle && ::close(Descriptor(handle)) != 0) RaiseLastError();
}

FileStamp File::Stamp() const {
    struct stat info;
    if (::fstat(Descriptor(handle_), &info) != 0) RaiseLastError();
    return StampOf(info);
}

void ReplacingFile::CheckOld() {
    // Opened for writing as the save would, without truncating it.
    const int flags = O_CLOEXEC | (mode_ == File::Mode::CreateExclusive ? O_RDWR : O_WRONLY);
    int fd;
    do {
        fd = ::open(target_.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno != ENOENT) RaiseLastError();
        return;
    }
    File old(fd);
    struct stat info;
    if (::fstat(fd, &info) != 0) RaiseLastError();
    if (S_ISDIR(info.st_mode)) throw IOError(5);
    if (!S_ISREG(info.st_mode)) {
        file_ = std::move(old);
        return;
    }
    attributes_ = info.st_mode;
    old.Close();
}

namespace {
void CloseDirectory(DIR* directory) { ::closedir(directory); }
using DirectoryHandle = UniqueHandle<DIR*, CloseDirectory>;
} // namespace

void ReplacingFile::RemoveLeftovers(const std::string& folder) {
    DirectoryHandle directory(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!directory) return;
    const std::time_t dayAgo = std::time(nullptr) - 86400;
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string name = folder + entry->d_name;
        struct stat info;
        if (IsScratchName(entry->d_name) && ::lstat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_mtime < dayAgo)
            ::unlink(name.c_str());
    }
}

void ReplacingFile::MoveIntoPlace() {
    const int fd = Descriptor(file_.handle_);
    if (attributes_ != 0 && ::fchmod(fd, attributes_ & 07777) != 0) RaiseLastError();
    file_.Flush();
    file_.Close();
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) RaiseLastError();
}

bool FileExists(const std::string& name, FileStamp* stamp) {
    struct stat info;
    if (name.empty() || ::stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    // An MS-DOS time stamp covers the years 1980 to 2107.
    struct tm local;
    if (::localtime_r(&info.st_mtime, &local) == nullptr) return false;
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return false;
    if (stamp) *stamp = StampOf(info);
    return true;
}

std::uint64_t SystemTime() {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Ticks(now);
}

bool DirectoryExists(const std::string& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MayAnswerSlowly(const std::string& path) {
    // Network paths in either spelling; local mounts cannot be told apart here.
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

bool RemoveFile(const std::string& name) { return ::unlink(name.c_str()) == 0; }

namespace {
bool ignoreCase = true;
} // namespace

void SetComparisonIgnoresCase(bool ignore) { ignoreCase = ignore; }

// Stands in for the locale comparison: ASCII letters without regard to case.
int CompareText(std::string_view a, std::string_view b) {
    auto fold = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return ignoreCase && u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
    };
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = static_cast<int>(fold(a[i])) - static_cast<int>(fold(b[i]));
        if (difference != 0) return difference < 0 ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string ComparisonIdentity() { return ignoreCase ? "ignore case" : "exact case"; }

std::size_t MergeWindowBytes() { return 64 * 1024; }

// Stands in for a double-byte ANSI code page: the lead bytes of code page
// 932, so that paths in it are walked here as under Windows.
bool IsLeadByte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

std::string ExecutablePath() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    return n <= 0 ? std::string() : std::string(path, static_cast<std::size_t>(n));
}

std::string ExecutableFolder() {
    const std::string full = ExecutablePath();
    const std::size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
}

std::string WindowsDirectory() { return std::string(); }

} // namespace platform
