// The platform layer on Win32: kernel32 files and the locale comparison.
#include "platform/File.h"

#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/LongPath.h"
#include "platform/Placing.h"

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

namespace {

// INVALID_HANDLE_VALUE as an integer, so that it can be a template argument.
constexpr std::intptr_t NoHandle = -1;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

void CloseFind(std::intptr_t handle) { ::FindClose(AsHandle(handle)); }
using FindHandle = UniqueHandle<std::intptr_t, CloseFind, NoHandle>;
void CloseFile(std::intptr_t handle) { ::CloseHandle(AsHandle(handle)); }
using FileHandle = UniqueHandle<std::intptr_t, CloseFile, NoHandle>;

[[noreturn]] void RaiseLastError() { throw IOError(::GetLastError()); }

std::uint64_t Ticks(const FILETIME& time) { return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime; }

bool Separator(wchar_t c) { return c == L'\\' || c == L'/'; }

} // namespace

LongPath::LongPath(const std::string& path) {
    // A character of the code page is never more than one wide character.
    const int size = static_cast<int>(path.size()) + 1;
    std::unique_ptr<wchar_t[]> wide(new wchar_t[size]);
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), size, wide.get(), size);
    const wchar_t* const p = wide.get();
    const bool share = Separator(p[0]) && Separator(p[1]);
    const bool full = share || (p[0] && p[1] == L':' && Separator(p[2]));
    const bool asIs = (full && size <= MAX_PATH) || (share && (p[2] == L'?' || p[2] == L'.') && Separator(p[3]));
    const DWORD chars = asIs ? 0 : ::GetFullPathNameW(p, 0, nullptr, nullptr);
    if (chars) text_.reset(new wchar_t[ROOM + chars + 1]);
    wchar_t* const made = text_.get() + ROOM;
    const DWORD length = chars ? ::GetFullPathNameW(p, chars, made, nullptr) : 0;
    if (length == 0 || length >= chars) {
        text_ = std::move(wide);
        return;
    }
    start_ = ROOM;
    // A share's prefix takes the place of the first backslash of \\server.
    const bool unc = made[0] == L'\\' && made[1] == L'\\';
    const std::wstring_view prefix = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
    start_ = ROOM + unc - prefix.size();
    prefix.copy(text_.get() + start_, prefix.size());
}

File File::Open(const std::string& name, Mode mode) {
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = 0;
    switch (mode) {
    case Mode::ReadSharedRead:
        access = GENERIC_READ;
        share = FILE_SHARE_READ;
        disposition = OPEN_EXISTING;
        break;
    case Mode::CreateExclusive:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    case Mode::CreateShareRead:
        access = GENERIC_WRITE;
        share = FILE_SHARE_READ;
        disposition = CREATE_ALWAYS;
        break;
    case Mode::CreateScratch:
    case Mode::CreateScratchEncrypted:
        access = GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
    case Mode::RewriteShareRead:
        access = GENERIC_WRITE;
        share = FILE_SHARE_READ;
        disposition = OPEN_EXISTING;
        break;
    }
    // A save's new file out of sight while it is one, and left in the cache
    // where the system can.
    // An encrypted old file's successor is encrypted as it is created: no
    // byte of it ever reaches the disk in plain text.
    const bool scratch = mode == Mode::CreateScratch || mode == Mode::CreateScratchEncrypted;
    const DWORD attributes = !scratch ? FILE_ATTRIBUTE_NORMAL
                             : FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY |
                                   (mode == Mode::CreateScratchEncrypted ? FILE_ATTRIBUTE_ENCRYPTED : 0);
    HANDLE handle = ::CreateFileW(LongPath(name), access, share, nullptr, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) RaiseLastError();
    return File(reinterpret_cast<std::intptr_t>(handle));
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, NoHandle)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_ != NoHandle) ::CloseHandle(AsHandle(handle_));
        handle_ = std::exchange(other.handle_, NoHandle);
    }
    return *this;
}

File::~File() {
    if (handle_ != NoHandle) ::CloseHandle(AsHandle(handle_));
}

std::size_t File::Read(void* buffer, std::size_t size) {
    DWORD read = 0;
    if (!::ReadFile(AsHandle(handle_), buffer, static_cast<DWORD>(size), &read, nullptr))
        RaiseLastError();
    return read;
}

std::size_t File::Write(const void* data, std::size_t size) {
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), data, static_cast<DWORD>(size), &written, nullptr))
        RaiseLastError();
    return written;
}

bool File::Seek(std::uint64_t position) {
    if (::GetFileType(AsHandle(handle_)) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    if (!::SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN)) RaiseLastError();
    return true;
}

void File::SetEnd() {
    if (!::SetEndOfFile(AsHandle(handle_))) RaiseLastError();
}

void File::Flush() {
    if (!::FlushFileBuffers(AsHandle(handle_))) RaiseLastError();
}

FileStamp File::Stamp() const {
    FILETIME created, written;
    LARGE_INTEGER size;
    if (!::GetFileTime(AsHandle(handle_), &created, nullptr, &written) || !::GetFileSizeEx(AsHandle(handle_), &size))
        RaiseLastError();
    return {static_cast<std::uint64_t>(size.QuadPart), Ticks(written), Ticks(created)};
}

void File::Close() {
    const std::intptr_t handle = std::exchange(handle_, NoHandle);
    if (handle != NoHandle && !::CloseHandle(AsHandle(handle))) RaiseLastError();
}

namespace {

constexpr DWORD InterruptedSave = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY;

// The old file opened as a save that creates it in that mode would, and for
// the removal that replacing it needs: what refuses this refuses the save.
HANDLE OpenForReplacing(const std::string& target, File::Mode mode) {
    const bool exclusive = mode == File::Mode::CreateExclusive;
    return ::CreateFileW(LongPath(target), (exclusive ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE) | DELETE,
                         exclusive ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

} // namespace

void ReplacingFile::CheckOld() {
    File old(reinterpret_cast<std::intptr_t>(OpenForReplacing(target_, mode_)));
    if (!old) {
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) RaiseLastError();
        return;
    }
    if (::GetFileType(AsHandle(old.handle_)) != FILE_TYPE_DISK) {
        file_ = std::move(old);
        return;
    }
    // The attributes alone: the whole record asks the volume for its serial
    // number too, which cost more than the rest of a hand-off's save.
    FILE_BASIC_INFO info;
    if (!::GetFileInformationByHandleEx(AsHandle(old.handle_), FileBasicInfo, &info, sizeof info)) RaiseLastError();
    const DWORD attributes = info.FileAttributes;
    // A read-only file refuses writers; where the open let one through (some
    // file systems and emulations do), the save refuses it all the same.
    if (attributes & FILE_ATTRIBUTE_READONLY) throw IOError(ERROR_ACCESS_DENIED);
    // Hidden and temporary together is a save's own mark, which a crash
    // between its rename and its unhiding left on the file: not the user's.
    attributes_ = attributes & ~(InterruptedSave == (attributes & InterruptedSave) ? InterruptedSave : 0);
    attributes_ |= FILE_ATTRIBUTE_NORMAL; // never 0, which says there was none
    encrypted_ = attributes_ & FILE_ATTRIBUTE_ENCRYPTED;
    old.Close();
}

namespace {

// The system's own calls for placing a save.
class SystemPlacing final : public PlacingCalls {
public:
    SystemPlacing(File::Mode mode, DWORD oldAttributes) : mode_(mode), oldAttributes_(oldAttributes) {}

    unsigned Replace(const std::string& target, const std::string& replacement,
                     const std::string& backup) override {
        // Without this flag the call opens the new file to write the old
        // one's security into it, which a share that grants "Change" refuses.
        return Answer(::ReplaceFileW(LongPath(target), LongPath(replacement),
                                     LongPath(backup), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr));
    }
    unsigned Move(const std::string& from, const std::string& to, bool replace) override {
        return Answer(::MoveFileExW(LongPath(from), LongPath(to),
                                    (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH));
    }
    unsigned Remove(const std::string& name) override { return Answer(::DeleteFileW(LongPath(name))); }
    // Out of hiding, as the old file was hidden or a system file or not; the
    // content is new, to be archived, and neither offline nor temporary. The
    // system's replace carries the old file's attributes over, a rename (and
    // Wine's replace) the new file's.
    unsigned Reveal(const std::string& name, bool asOld) override {
        const DWORD kept = asOld ? oldAttributes_ & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) : 0;
        return Answer(::SetFileAttributesW(LongPath(name), kept | FILE_ATTRIBUTE_ARCHIVE));
    }
    bool Exists(const std::string& name) override {
        return ::GetFileAttributesW(LongPath(name)) != INVALID_FILE_ATTRIBUTES;
    }
    unsigned WhyNotReplaced(const std::string& target) override {
        const FileHandle old(reinterpret_cast<std::intptr_t>(OpenForReplacing(target, mode_)));
        const DWORD code = old ? 0 : ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? 0 : code;
    }
    unsigned Milliseconds() override { return ::GetTickCount(); }
    void Pause(unsigned milliseconds) override { ::Sleep(milliseconds); }

private:
    static unsigned Answer(BOOL done) { return done ? 0 : ::GetLastError(); }
    File::Mode mode_;
    DWORD oldAttributes_;
};

} // namespace

void ReplacingFile::RemoveLeftovers(const std::string& folder) {
    WIN32_FIND_DATAW data;
    FindHandle find(reinterpret_cast<std::intptr_t>(::FindFirstFileW(LongPath(folder + "~FL*.tmp"), &data)));
    if (!find) return;
    const std::uint64_t now = SystemTime();
    // A day, in 100 ns: a share's server keeps its own clock, and FAT keeps
    // local times, which move at a change of daylight saving time.
    constexpr std::uint64_t DAY = 864000000000;
    // Only what a save hid as its own: a user's file of that name stays. (Not
    // every system keeps the temporary mark.) Its name is ASCII, alike in
    // every code page; a longer one is cut, which it does not survive.
    do {
        char name[12];
        std::size_t length = 0;
        for (const wchar_t* c = data.cFileName; *c && length < sizeof name; ++c)
            name[length++] = *c < 0x80 ? static_cast<char>(*c) : '?';
        if ((data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_HIDDEN &&
            IsScratchName({name, length}) && Ticks(data.ftLastWriteTime) + DAY < now)
            ::DeleteFileW(LongPath(folder + std::string(name, length)));
    } while (::FindNextFileW(AsHandle(find.get()), &data));
}

void ReplacingFile::MoveIntoPlace() {
    file_.Flush();
    file_.Close();
    // Still hidden: what a crash or a dropped share leaves of it is the sweep's.
    SystemPlacing calls(mode_, attributes_);
    if (attributes_ == 0 || into_ == Into::Name) {
        PlaceByName(calls, temporary_, target_, attributes_ != 0);
    } else {
        // The old file moves to a backup name rather than away, so that it
        // can come back when the new one cannot follow it into place.
        PlaceReplacing(calls, target_, temporary_, FreeBackupName(calls));
    }
    // A replace may drop the encryption it otherwise carries over (merge
    // errors are ignored), and a file system may ignore the creation's.
    if (encrypted_ && !(::GetFileAttributesW(LongPath(target_)) & FILE_ATTRIBUTE_ENCRYPTED))
        RaiseLeft(ERROR_ENCRYPTION_FAILED, "%s: the new file is in place, but not encrypted as the old one was");
}

bool FileExists(const std::string& name, FileStamp* stamp) {
    // The entry's attributes and time stamp come without a search of its
    // folder, which costs an open of the folder: the menu asks at every
    // press. No name with a wildcard names a file, so none is a pattern here.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(LongPath(name), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // The time stamp must fit an MS-DOS date: the years 1980 to 2107.
    FILETIME local;
    WORD date;
    WORD time;
    if (!::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToDosDateTime(&local, &date, &time))
        return false;
    if (stamp)
        *stamp = {std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow, Ticks(data.ftLastWriteTime),
                  Ticks(data.ftCreationTime)};
    return true;
}

std::uint64_t SystemTime() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MayAnswerSlowly(const std::string& path) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 2 && separator(path[0]) && separator(path[1])) return true;
    if (path.size() < 2 || path[1] != ':') return false;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    const char letter = upper(path[0]);
    if (letter < 'A' || letter > 'Z') return false;
    // The drive Windows runs from is a fixed one that never sleeps: no need
    // to ask, which most menus would otherwise do. (Only the pruning's own
    // thread asks, so these plain statics need no lock.)
    static char systemDrive = 0;
    if (!systemDrive) systemDrive = upper(WindowsDirectory()[0]);
    if (letter == systemDrive) return false;
    // Asking for a drive's type is slow under some systems, and one pruning
    // asks for the same one or two drives many times: keep the answers for
    // a moment.
    constexpr DWORD DRIVE_TYPE_KEPT_MS = 2000;
    static UINT types[26];
    static DWORD asked[26];
    const int drive = letter - 'A';
    const DWORD now = ::GetTickCount();
    if (types[drive] == 0 || now - asked[drive] > DRIVE_TYPE_KEPT_MS) {
        const char root[] = {letter, ':', '\\', '\0'};
        // 0 is DRIVE_UNKNOWN, which would never be kept; keep it as 1.
        const UINT type = ::GetDriveTypeA(root);
        types[drive] = type == DRIVE_UNKNOWN ? DRIVE_NO_ROOT_DIR : type;
        asked[drive] = now;
    }
    switch (types[drive]) {
    case DRIVE_REMOTE:
    case DRIVE_REMOVABLE:
    case DRIVE_CDROM:
        return true;
    default:
        return false;
    }
}

bool RemoveFile(const std::string& name) { return ::DeleteFileW(LongPath(name)) != FALSE; }

int CompareText(std::string_view a, std::string_view b) {
    // Explicit lengths: the whole of both strings, embedded NULs included.
    return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                            static_cast<int>(a.size()), b.data(), static_cast<int>(b.size())) -
           2;
}

std::string ComparisonIdentity() {
    // The locale's name and CompareString's version of its sorting tables:
    // every custom locale shares one LCID, and an update of the tables
    // leaves the LCID as it was.
    const LCID lcid = ::GetUserDefaultLCID();
    std::string identity(reinterpret_cast<const char*>(&lcid), sizeof lcid);
    WCHAR name[LOCALE_NAME_MAX_LENGTH] = {};
    const int length = ::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
    if (length <= 0) return identity;
    identity.append(reinterpret_cast<const char*>(name), length * sizeof *name);
    NLSVERSIONINFOEX version = {};
    version.dwNLSVersionInfoSize = sizeof version;
    if (::GetNLSVersionEx(COMPARE_STRING, name, &version))
        identity.append(reinterpret_cast<const char*>(&version), sizeof version);
    return identity;
}

std::size_t MergeWindowBytes() { return 512 * 1024; }

bool IsLeadByte(char c) { return ::IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

std::string ExecutablePath() {
    // Grow the buffer until the whole path fits; a cut path would name
    // another file.
    std::string path(MAX_PATH + 1, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::string();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);
    }
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    return path.substr(0, NameStart(path));
}

std::string WindowsDirectory() {
    // What the shell's special folder gives too (terminal-server sessions
    // included), without the shell's folder machinery at start-up.
    char buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemWindowsDirectoryA(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

} // namespace platform
