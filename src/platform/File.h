// Files, folders and the list comparison as the portable core sees them.
// Win32 (File_win32.cpp) in the product; POSIX (File_posix.cpp) natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class PlacingCalls;

// What shows a change of a file's content: its size, its last-write time
// (in 100 ns since 1601, as Windows counts) and which file holds the name
// (its creation time under Windows, its inode under POSIX).
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t written = 0;
    std::uint64_t identity = 0;
    bool operator==(const FileStamp& other) const {
        return size == other.size && written == other.written && identity == other.identity;
    }
};

// An open file. Every failure raises IOError with the system's error code.
class File {
public:
    enum class Mode {
        ReadSharedRead,  // read access, others may read, existing file only
        CreateExclusive, // read and write, no sharing, create or truncate
        CreateShareRead, // write access, others may read, create or truncate
        CreateScratch,   // write access, no sharing, a new file only, hidden
                         // and marked temporary where the system can
        CreateScratchEncrypted, // the same, encrypted from its first byte
                                // where the system encrypts files
        RewriteShareRead, // write access, others may read, existing file
                          // only, its bytes kept until written over
    };

    static File Open(const std::string& name, Mode mode);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File(); // closes quietly if still open
    explicit operator bool() const { return handle_ != -1; }

    // Up to size bytes; 0 at the end of the file.
    std::size_t Read(void* buffer, std::size_t size);
    // Returns the bytes the system took, which can be fewer than size.
    std::size_t Write(const void* data, std::size_t size);
    // Moves to the byte at position; false for a file that cannot go back
    // (a pipe, a device).
    bool Seek(std::uint64_t position);
    // Ends the file at the current position.
    void SetEnd();
    // Returns once what was written is on the disk.
    void Flush();
    // Closes the file now; the file is released even when this raises.
    void Close();
    // The open file's stamp.
    FileStamp Stamp() const;

private:
    friend class ReplacingFile;
    File() : handle_(-1) {}
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// A save that puts a complete new file in place of the old one or leaves the
// old one as it was, however long the folder's path. The content goes to a
// new file beside the target, hidden until it is in place; Commit() flushes
// and closes it and only then moves it into place, keeping the old file's
// hidden and system attributes (the content is new: it is to be archived).
// Destroyed without a Commit (an error unwinding), it removes the new file;
// what a crash leaves of one, a later save into the folder removes after a
// day. A target that is a device is written directly.
class ReplacingFile {
public:
    enum class Into {
        // The old file's place, by the system's replace, which keeps its
        // security, streams and encryption; the file is a new one (its file
        // id is the new file's, and a hard link to the old one keeps the old
        // content). A volume that refuses the replace gets one rename: the
        // folder's security then, and none of the old streams. The new file
        // of an encrypted old one is encrypted from its creation, and a save
        // whose file in place is not says so.
        OldFile,
        Name, // its name alone, by one rename: a reader never finds it missing
    };

    // Refuses the target with the code that opening it in the given create
    // mode would give (a missing folder, a folder in the way, a read-only
    // file, a file held open), before anything is written.
    ReplacingFile(const std::string& target, File::Mode mode, Into into = Into::OldFile);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    std::size_t Write(const void* data, std::size_t size) { return file_.Write(data, size); }
    void Commit();

private:
    // Raises what stands in the way of replacing the old file, if there is
    // one, and takes its attributes; opens a device to be written directly.
    void CheckOld();
    // The target's folder, with its separator; empty for the current one.
    static std::string FolderOf(const std::string& target);
    // A name in the target's folder, with the number given: a new file's,
    // or a backup's, which no sweep takes.
    static std::string NameBeside(const std::string& target, unsigned number, bool backup = false);
    // Whether a file of the folder is a save's new file, by its name.
    static bool IsScratchName(std::string_view name);
    // Removes the saves' new files a day old that a crash left there.
    static void RemoveLeftovers(const std::string& folder);
    void CreateBeside();
    // A name beside the target for the old file while the new one takes its
    // place; raises when a hundred are taken.
    std::string FreeBackupName(PlacingCalls& calls) const;
    void MoveIntoPlace();

    std::string target_;
    File::Mode mode_;
    Into into_;
    std::string temporary_; // empty once committed, or when writing a device
    unsigned attributes_ = 0; // the old file's; 0 when there was none
    bool encrypted_ = false;  // the old file's content is, and the new one's must be
    File file_;
};

// The name is an entry that is not a directory and whose last-write time,
// as local time, is an MS-DOS date (1980 to 2107). With stamp, also gives
// the file's stamp.
bool FileExists(const std::string& name, FileStamp* stamp = nullptr);

// The time now, in the units of FileStamp::written.
std::uint64_t SystemTime();

// The path's attributes can be read and name a directory.
bool DirectoryExists(const std::string& path);

// Whether an existence test of the path may take long: network paths,
// and drives that may have to spin up.
bool MayAnswerSlowly(const std::string& path);

// Deletes a file; false when it could not.
bool RemoveFile(const std::string& name);

// The list comparison: case-insensitive in the user's default locale,
// over the whole of both strings; negative, zero or positive.
int CompareText(std::string_view a, std::string_view b);

// Names the comparison now in force: it changes when the comparison may
// have changed (the user's locale, or its sorting tables). Opaque bytes,
// only ever compared.
std::string ComparisonIdentity();

#ifndef _WIN32
// For the native tests: whether the stand-in comparison ignores letter case,
// as it does until told otherwise.
void SetComparisonIgnoresCase(bool ignore);
#endif

// How many bytes of lines a merge collects before it compares them: each
// round costs a few hundred comparisons, which are cheap here and a
// system call each under Windows.
std::size_t MergeWindowBytes();

// Whether the byte starts a two-byte character of the ANSI code page (932,
// 936, 949, 950), whose second byte can be a backslash.
bool IsLeadByte(char c);

// Where the last name of a path starts: after its last '\\' or ':', found
// character by character.
std::size_t NameStart(std::string_view path);

// The running executable's full path; empty when the system cannot tell.
std::string ExecutablePath();

// The running executable's folder, with its trailing backslash or colon;
// empty when the system cannot tell.
std::string ExecutableFolder();

// The system's Windows directory; empty when it cannot be told.
std::string WindowsDirectory();

} // namespace platform
