#include "platform/File.h"

#include "ListTesting.h"
#include "TestFiles.h"
#include "export/VantroList.h"
#include "platform/Errors.h"
#include "platform/Placing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#endif

using platform::File;
using testfiles::ReadBytes;
using testfiles::TempFolder;
using testfiles::WriteBytes;
namespace fs = testfiles::fs;

namespace {

unsigned OpenErrorCode(const std::string& name, File::Mode mode) {
    try {
        File::Open(name, mode);
    } catch (const IOError& error) {
        return error.Code();
    }
    return 0;
}

std::ptrdiff_t FilesIn(const TempFolder& folder) {
    return std::distance(fs::directory_iterator(folder / ""), fs::directory_iterator());
}

// An attribute that a new file does not get: hidden, or access for the owner only.
#ifdef _WIN32
void Mark(const std::string& name) { ::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_HIDDEN); }
bool Marked(const std::string& name) { return ::GetFileAttributesA(name.c_str()) & FILE_ATTRIBUTE_HIDDEN; }
#else
constexpr fs::perms OwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
void Mark(const std::string& name) { fs::permissions(name, OwnerOnly); }
bool Marked(const std::string& name) { return fs::status(name).permissions() == OwnerOnly; }
#endif

} // namespace

TEST(File, WritesReadsAndReportsTheEnd) {
    TempFolder folder;
    const std::string name = folder / "data.bin";
    const std::string bytes("one\r\ntwo\0three", 14);
    {
        File file = File::Open(name, File::Mode::CreateShareRead);
        EXPECT_EQ(bytes.size(), file.Write(bytes.data(), bytes.size()));
        File moved = std::move(file);
        moved.Close();
    }
    EXPECT_EQ(bytes, ReadBytes(name));

    File file = File::Open(name, File::Mode::ReadSharedRead);
    char buffer[10];
    EXPECT_EQ(10u, file.Read(buffer, sizeof buffer));
    EXPECT_EQ(bytes.substr(0, 10), std::string(buffer, 10));
    EXPECT_EQ(4u, file.Read(buffer, sizeof buffer));
    EXPECT_EQ(0u, file.Read(buffer, sizeof buffer));
    file.Close();

    // Creating truncates.
    File::Open(name, File::Mode::CreateExclusive).Close();
    EXPECT_EQ("", ReadBytes(name));
}

TEST(File, OpenFailuresCarryTheSystemCode) {
    TempFolder folder;
    const std::string directory = folder.MakeFolder("dir");
    const std::string inMissingFolder = (fs::path(folder / "none") / "x.txt").string();
#ifdef _WIN32
    const unsigned missingFolderCode = 3; // path not found
#else
    const unsigned missingFolderCode = 2;
#endif
    const struct { std::string name; File::Mode mode; unsigned code; } table[] = {
        {folder / "missing.txt", File::Mode::ReadSharedRead, 2},
        {inMissingFolder, File::Mode::ReadSharedRead, missingFolderCode},
        {inMissingFolder, File::Mode::CreateExclusive, missingFolderCode},
        {directory, File::Mode::ReadSharedRead, 5},
        {directory, File::Mode::CreateExclusive, 5},
        {directory, File::Mode::CreateShareRead, 5},
    };
    for (const auto& row : table) EXPECT_EQ(row.code, OpenErrorCode(row.name, row.mode)) << row.name;
}

// A save that ends without its commit (an error unwinding) leaves the old
// file whole, one that commits leaves the new file with the old one's
// attributes; nothing beside either.
TEST(ReplacingFile, ReplacesTheOldFileWholeOrNotAtAll) {
    TempFolder folder;
    const std::string name = folder / "list.txt";
    WriteBytes(name, "old");
    Mark(name);
    platform::ReplacingFile(name, File::Mode::CreateShareRead).Write("new", 3);
    EXPECT_EQ("old", ReadBytes(name));
    EXPECT_EQ(1, FilesIn(folder));

    platform::ReplacingFile file(name, File::Mode::CreateShareRead);
    file.Write("new", 3);
    EXPECT_EQ("old", ReadBytes(name)) << "written in place";
    file.Commit();
    EXPECT_EQ("new", ReadBytes(name));
    EXPECT_EQ(1, FilesIn(folder));
    EXPECT_TRUE(Marked(name));
#ifdef _WIN32
    // New content is to be archived: Wine's replace keeps the new file's word.
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE}, ::GetFileAttributesA(name.c_str()));
#endif
}

// A crash leaves a save's new file behind, hidden while it is one: the next
// save into the folder removes those a day old, never another file that the
// search's pattern finds too.
TEST(ReplacingFile, RemovesItsOwnLeftoversADayOld) {
    TempFolder folder;
    const std::string old = folder / "~FL00A1.tmp", recent = folder / "~FL00A2.tmp", users = folder / "~FL00A3.tmp",
                      longer = folder / "~FL00A4A.tmp";
    for (const std::string& name : {old, recent, users, longer}) WriteBytes(name, "x");
    for (const std::string& name : {old, recent, users, longer})
        fs::last_write_time(name, fs::last_write_time(name) - std::chrono::hours(name == recent ? 23 : 25));
    for (const std::string& name : {old, recent, longer}) Mark(name);
    platform::ReplacingFile file(folder / "list.txt", File::Mode::CreateShareRead);
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(recent));
    EXPECT_TRUE(fs::exists(longer));
#ifdef _WIN32
    EXPECT_TRUE(fs::exists(users)) << "not hidden as a save's";
    // This save's own is hidden too (Wine keeps no temporary mark).
    for (const auto& entry : fs::directory_iterator(folder / "")) EXPECT_TRUE(entry.path() == users || Marked(entry.path().string()));
#endif
}

#ifdef _WIN32
TEST(File, SharingFollowsTheModes) {
    TempFolder folder;
    const std::string name = folder / "shared.txt";
    WriteBytes(name, "x");
    {
        // Readers may share with a reader.
        File reader = File::Open(name, File::Mode::ReadSharedRead);
        File second = File::Open(name, File::Mode::ReadSharedRead);
        EXPECT_EQ(32u, OpenErrorCode(name, File::Mode::CreateExclusive));
        EXPECT_EQ(32u, OpenErrorCode(name, File::Mode::CreateShareRead));
    }
    {
        File writer = File::Open(name, File::Mode::CreateShareRead);
        EXPECT_EQ(32u, OpenErrorCode(name, File::Mode::ReadSharedRead));
    }
    {
        File exclusive = File::Open(name, File::Mode::CreateExclusive);
        EXPECT_EQ(32u, OpenErrorCode(name, File::Mode::ReadSharedRead));
    }
}
#endif

TEST(FileExists, OnlyFilesWithAnMsDosTimeStamp) {
    TempFolder folder;
    const std::string name = folder / "f.txt";
    WriteBytes(name, "x");
    EXPECT_TRUE(platform::FileExists(name));
    EXPECT_FALSE(platform::FileExists(folder.MakeFolder("d")));
    EXPECT_FALSE(platform::FileExists(folder / "missing"));
    EXPECT_FALSE(platform::FileExists(""));
#ifdef _WIN32
    EXPECT_FALSE(platform::FileExists(folder / "*.txt")) << "a pattern is no file name";
    EXPECT_TRUE(platform::FileExists("\\\\?\\" + name)) << "the long-path prefix is no pattern: " << name;
#endif

    // 1975 is before any MS-DOS date.
    const auto now = fs::last_write_time(name);
    fs::last_write_time(name, now - std::chrono::hours(24 * 365 * 50));
    EXPECT_FALSE(platform::FileExists(name));
    fs::last_write_time(name, now);
    EXPECT_TRUE(platform::FileExists(name));
}

TEST(DirectoryExists, OnlyFolders) {
    TempFolder folder;
    WriteBytes(folder / "f.txt", "x");
    EXPECT_TRUE(platform::DirectoryExists(folder.MakeFolder("d")));
    EXPECT_FALSE(platform::DirectoryExists(folder / "f.txt"));
    EXPECT_FALSE(platform::DirectoryExists(folder / "missing"));
    EXPECT_FALSE(platform::DirectoryExists(""));
}

TEST(RemoveFile, DeletesFilesOnly) {
    TempFolder folder;
    const std::string name = folder / "f.txt";
    WriteBytes(name, "x");
    EXPECT_TRUE(platform::RemoveFile(name));
    EXPECT_FALSE(platform::FileExists(name));
    EXPECT_FALSE(platform::RemoveFile(name));
    const std::string directory = folder.MakeFolder("d");
    EXPECT_FALSE(platform::RemoveFile(directory));
    EXPECT_TRUE(platform::DirectoryExists(directory));
}

TEST(CompareText, IgnoresLetterCaseOverTheWholeStrings) {
    const struct { std::string a, b; int sign; } table[] = {
        {"C:\\Temp", "c:\\TEMP", 0}, {"", "", 0},     {"a", "B", -1},
        {"B", "a", 1},               {"ab", "a", 1},  {"", "x", -1},
        {"folder", "FOLDERS", -1},   {"abc", "abd", -1},
        {std::string("a\0b", 3), std::string("a\0c", 3), -1},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const auto& row : table) {
        EXPECT_EQ(row.sign, sign(platform::CompareText(row.a, row.b))) << row.a << " " << row.b;
        EXPECT_EQ(-row.sign, sign(platform::CompareText(row.b, row.a))) << row.a << " " << row.b;
    }
}

#ifdef _WIN32
// Beyond the LCID: the locale's name ("en-US" at least) and CompareString's version.
TEST(ComparisonIdentity, NamesTheLocaleAndItsSortingTables) {
    EXPECT_GE(platform::ComparisonIdentity().size(), 4u + 2 * 5 + 32);
}
#endif

TEST(ExecutableFolder, HoldsTheRunningProgram) {
    const std::string folder = platform::ExecutableFolder();
    ASSERT_FALSE(folder.empty());
#ifdef _WIN32
    EXPECT_TRUE(folder.back() == '\\' || folder.back() == ':') << folder;
    EXPECT_TRUE(platform::FileExists(folder + "unit_tests.exe")) << folder;
    const std::string windows = platform::WindowsDirectory();
    EXPECT_TRUE(platform::DirectoryExists(windows)) << windows;
    char shell[MAX_PATH + 1] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, shell, CSIDL_WINDOWS, FALSE));
    EXPECT_EQ(shell, windows) << "the seed's drive must be the one the shell reports";
#else
    EXPECT_EQ('/', folder.back());
    EXPECT_TRUE(platform::FileExists(folder + "unit_tests")) << folder;
#endif
}

namespace {

// The system's answers, scripted: each call takes its list's next answer (0
// once used up) and does to the real files what the system does on it.
struct ScriptedPlacing final : platform::PlacingCalls {
    ScriptedPlacing(std::vector<unsigned> r, std::vector<unsigned> m) : replaces(std::move(r)), moves(std::move(m)) {}
    std::vector<unsigned> replaces, moves;
    unsigned blocks = 0, clock = 0; // blocks: what each replace takes, in ms
    bool dropped = false; // the share is gone: no name can be seen
    std::string calls; // R, M and P (a pause), in order
    static unsigned Next(std::vector<unsigned>& answers) {
        if (answers.empty()) return 0;
        const unsigned code = answers.front();
        answers.erase(answers.begin());
        return code;
    }
    unsigned Replace(const std::string& target, const std::string& replacement, const std::string& backup) override {
        calls += 'R';
        clock += blocks;
        const unsigned code = Next(replaces);
        // 64: the share dropped between the call's two renames.
        if (code == 0 || code == 1177 || code == 64) fs::rename(target, backup);
        if (code == 0) fs::rename(replacement, target);
        return code;
    }
    unsigned Move(const std::string& from, const std::string& to, bool replace) override {
        calls += 'M';
        unsigned code = Next(moves);
        if (code == 0 && !replace && fs::exists(to)) code = 183;
        if (code == 0) fs::rename(from, to);
        return code;
    }
    unsigned Remove(const std::string& name) override { return fs::remove(name) ? 0 : 2; }
    unsigned Reveal(const std::string&, bool) override { return 0; }
    bool Exists(const std::string& name) override { return !dropped && fs::exists(name); }
    unsigned WhyNotReplaced(const std::string&) override { return 32; }
    unsigned Milliseconds() override { return clock; }
    void Pause(unsigned ms) override {
        calls += 'P';
        clock += ms;
    }
};

std::string Repeat(const std::string& part, int times) { return times > 0 ? part + Repeat(part, times - 1) : ""; }

} // namespace

// What each answer of the system leaves: the message ("" for a save that
// went through, with the new content at the target), the calls made, and
// the old content at the target, or at the backup name that the message
// gives.
TEST(PlaceReplacing, TriesAgainOnlyWhatCanPassAndNeverLosesTheOldContent) {
    const std::vector<unsigned> held(20, 32);
    const std::string backupNamed = "I/O error 1177: the old file is now {backup}";
    const struct { const char* what; std::vector<unsigned> replaces, moves; std::string message, calls; unsigned blocks = 0; bool dropped = false; } table[] = {
        {"replaced", {}, {}, "", "R"},
        {"a share without Full Control", {5}, {}, "", "RM"},
        {"a redirector without the call", {50}, {}, "", "RM"},
        {"denied both ways, at once", {5}, {5}, "File access denied", "RM"},
        {"a scanner for a moment", {32, 33, 1175, 1176}, {}, "", "RPRPRPRPR"},
        {"held for good", held, {}, "I/O error 32", "R" + Repeat("PR", 10)},
        {"1176 for good, told by the open", std::vector<unsigned>(20, 1176), {}, "I/O error 32", "R" + Repeat("PR", 10)},
        {"unable to move, restored, then passes", {1177}, {}, "", "RMPR"},
        {"no restore, new content at the name", {1177}, {32, 183}, "", "RMPMM"},
        {"neither restore nor new content", {1177}, {183, 5}, backupNamed, "RMM"},
        {"the restore's pauses count too", {1177}, held, backupNamed, "RM" + Repeat("PM", 10) + "M"},
        {"a share dropped between the renames", {64}, {}, "I/O error 64", "RM"},
        {"dropped for good", {64}, {}, "I/O error 64: the old file may be at {backup}", "R", 0, true},
        {"dropped, no restore, new content at the name", {64}, {5}, "", "RMM"},
        {"a dropping share: each call blocks", held, {}, "I/O error 32", "RPR", 200},
    };
    for (const auto& row : table) {
        TempFolder folder;
        const std::string target = folder / "list.vtr", backup = folder / "~FL0002.tmp";
        WriteBytes(target, "old");
        WriteBytes(folder / "~FL0001.tmp", "new");
        ScriptedPlacing calls(row.replaces, row.moves);
        calls.blocks = row.blocks, calls.dropped = row.dropped;
        const std::string message =
            MessageRaisedBy([&, replacement = folder / "~FL0001.tmp"]() mutable { platform::PlaceReplacing(calls, target, replacement, backup); });
        const std::size_t named = row.message.find("{backup}"), atBackup = named != std::string::npos;
        EXPECT_EQ(atBackup ? row.message.substr(0, named) + backup : row.message.empty() ? "<no error>" : row.message, message) << row.what;
        EXPECT_EQ(row.calls, calls.calls) << row.what;
        EXPECT_EQ(row.message.empty() ? "new" : atBackup ? "<missing>" : "old", ReadBytes(target)) << row.what;
        EXPECT_EQ(atBackup ? "old" : "<missing>", ReadBytes(backup)) << row.what;
    }
}

#ifdef _WIN32
namespace {

// The test program's own import table: while a patch lives, the program's
// calls of the named function go to another.
class ImportPatch {
public:
    ImportPatch(const char* name, const void* replacement) {
        auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleA(nullptr));
        const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); module->Name; ++module) {
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
            auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slot)
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                    std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name, name) == 0)
                    slot_ = &slot->u1.Function;
        }
        if (slot_) original = Swap(replacement);
        EXPECT_TRUE(slot_) << name << " is not imported";
    }
    ~ImportPatch() { if (slot_) Swap(original); }
    const void* original = nullptr;

private:
    const void* Swap(const void* to) {
        DWORD was;
        ::VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &was);
        const void* before = reinterpret_cast<const void*>(std::exchange(*slot_, reinterpret_cast<DWORD_PTR>(to)));
        ::VirtualProtect(slot_, sizeof *slot_, was, &was);
        return before;
    }
    DWORD_PTR* slot_ = nullptr;
};

// Windows' answers, scripted (0: the system's own call), with what Windows
// does to the files on each; every call with its flags, in order, on a
// clock that only the pauses move.
struct {
    std::vector<unsigned> replaces, moves;
    DWORD marks;          // what the old file carries beside Wine's attributes
    bool placedEncrypted; // what Wine never says of the file in place
    std::string intruder; // where another program puts a file
    std::string calls;
    unsigned clock;
    std::vector<ImportPatch*> patches;
} Windows;

template <typename Function>
Function Original(Function, int patch) { return reinterpret_cast<Function>(Windows.patches[patch]->original); }

BOOL Answer(unsigned code) { return ::SetLastError(code), code == 0; }

// A new file shown before it is in place would escape the sweep.
void Called(const std::string& call, LPCWSTR replacement) {
    Windows.calls += call + (replacement && !(::GetFileAttributesW(replacement) & FILE_ATTRIBUTE_HIDDEN) ? "shown" : "");
}

BOOL WINAPI ReplaceAnswered(LPCWSTR target, LPCWSTR replacement, LPCWSTR backup, DWORD flags, LPVOID, LPVOID) {
    Called(" R" + std::to_string(flags), replacement);
    const unsigned code = ScriptedPlacing::Next(Windows.replaces);
    const auto move = Original(&::MoveFileExW, 1);
    if (code == 1177) move(target, backup, 0);
    if (code == 2) move(target, (std::wstring(target) + L".away").c_str(), 0);
    if (!Windows.intruder.empty()) WriteBytes(Windows.intruder, "theirs"); // at the name meanwhile
    return code ? Answer(code) : Original(&::ReplaceFileW, 0)(target, replacement, backup, flags, nullptr, nullptr);
}
BOOL WINAPI MoveAnswered(LPCWSTR from, LPCWSTR to, DWORD flags) {
    Called(" M" + std::to_string(flags), flags & MOVEFILE_REPLACE_EXISTING ? from : nullptr);
    const unsigned code = ScriptedPlacing::Next(Windows.moves);
    return code ? Answer(code) : Original(&::MoveFileExW, 1)(from, to, flags);
}
BOOL WINAPI InformationAnswered(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size) {
    const BOOL done = Original(&::GetFileInformationByHandleEx, 2)(file, kind, information, size);
    if (kind == FileBasicInfo) static_cast<FILE_BASIC_INFO*>(information)->FileAttributes |= Windows.marks;
    return done;
}
HANDLE WINAPI CreateAnswered(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD attributes, HANDLE from) {
    if (attributes & FILE_ATTRIBUTE_HIDDEN) Called(" C" + std::to_string(attributes), nullptr);
    return Original(&::CreateFileW, 3)(name, access, share, security, disposition, attributes, from);
}
BOOL WINAPI FlushAnswered(HANDLE file) { return Called(" F", nullptr), Original(&::FlushFileBuffers, 4)(file); }
BOOL WINAPI SetAttributesAnswered(LPCWSTR name, DWORD attributes) {
    return Called(" A" + std::to_string(attributes), nullptr), Original(&::SetFileAttributesW, 5)(name, attributes);
}
DWORD WINAPI GetAttributesAnswered(LPCWSTR name) {
    const DWORD attributes = Original(&::GetFileAttributesW, 6)(name);
    return attributes | (Windows.placedEncrypted && attributes != INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_ENCRYPTED : 0);
}
void WINAPI SleepAnswered(DWORD milliseconds) { Called(" P", nullptr), Windows.clock += milliseconds; }
DWORD WINAPI TickCountAnswered() { return Windows.clock; }
BOOL WINAPI WriteAnswered(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return Called(" W", nullptr), Original(&::WriteFile, 7)(file, data, size, written, overlapped);
}
BOOL WINAPI EndAnswered(HANDLE file) { return Called(" E", nullptr), Original(&::SetEndOfFile, 8)(file); }

std::string Save(const std::string& target) {
    return MessageRaisedBy([&] {
        platform::ReplacingFile file(target, File::Mode::CreateShareRead);
        file.Write("new", 3);
        file.Commit();
    });
}

} // namespace

// The shipping placing, with Windows' answers in place of Wine's: the flags
// it passes, what it does with the files on each answer, and that a backup
// left with the user's old file survives the next save.
TEST(SystemPlacing, TheShippingPathPassesItsFlagsAndLosesNoByteOnWindowsAnswers) {
    ImportPatch replace("ReplaceFileW", reinterpret_cast<void*>(ReplaceAnswered)),
        move("MoveFileExW", reinterpret_cast<void*>(MoveAnswered)),
        information("GetFileInformationByHandleEx", reinterpret_cast<void*>(InformationAnswered)),
        create("CreateFileW", reinterpret_cast<void*>(CreateAnswered)), flush("FlushFileBuffers", reinterpret_cast<void*>(FlushAnswered)),
        setAttributes("SetFileAttributesW", reinterpret_cast<void*>(SetAttributesAnswered)), sleep("Sleep", reinterpret_cast<void*>(SleepAnswered)),
        getAttributes("GetFileAttributesW", reinterpret_cast<void*>(GetAttributesAnswered)), tick("GetTickCount", reinterpret_cast<void*>(TickCountAnswered));
    Windows.patches = {&replace, &move, &information, &create, &flush, &setAttributes, &getAttributes};
    const std::string taken = "I/O error 183: another file has taken the name; the new file is ";
    const std::string created = " C258 F", held = Repeat(" P R2", 10), encrypted = " C16642 F";
    constexpr DWORD ENCRYPTED = FILE_ATTRIBUTE_ENCRYPTED, INTERRUPTED = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY;
    const struct { std::vector<unsigned> replaces, moves; std::string calls, message, content; DWORD marks = 0; bool placedEncrypted = false; } table[] = {
        {{}, {}, created + " R2 A32", "", "new"},
        {{2}, {}, created + " R2 M8 A32", "", "new"},
        {{5}, {}, created + " R2 M9 A32", "", "new"},
        {{50}, {}, created + " R2 M9 A32", "", "new"},
        {{87}, {}, created + " R2 M9 A32", "", "new"},
        {std::vector<unsigned>(40, 1175), {}, created + " R2" + held, "I/O error 1175", "old"},
        {std::vector<unsigned>(40, 1176), {}, created + " R2" + held, "I/O error 1176", "old"},
        {{1177}, {}, created + " R2 M8 P R2 A32", "", "new"},
        {{1177}, {5, 5}, created + " R2 M8 M8", "I/O error 1177: the old file is now ", "<missing>"},
        {{}, {}, encrypted + " R2 A32", "", "new", ENCRYPTED, true},
        {{5}, {}, encrypted + " R2 M9 A32", "I/O error 6000: the new file is in place, but not encrypted as the old one was", "new", ENCRYPTED},
        {{}, {}, created + " R2 A32", "", "new", INTERRUPTED},
        {{2}, {}, created + " R2 M8 A32", taken, "theirs"},
        {{1177}, {}, created + " R2 M8 A32", taken, "theirs"},
    };
    for (const auto& row : table) {
        TempFolder folder;
        const std::string target = folder / "list.vtr";
        WriteBytes(target, "old");
        Windows.replaces = row.replaces, Windows.moves = row.moves, Windows.marks = row.marks;
        Windows.placedEncrypted = row.placedEncrypted, Windows.intruder = row.content == "theirs" ? target : "";
        Windows.calls.clear();
        const std::string message = Save(target), what = row.calls + " " + message;
        EXPECT_EQ(row.calls, Windows.calls) << what;
        const std::string expected = row.message.empty() ? "<no error>" : row.message;
        EXPECT_EQ(expected, message.substr(0, expected.size())) << what;
        EXPECT_EQ(row.content, ReadBytes(target)) << what;
        const std::string kept = row.message == taken ? message.substr(taken.size(), message.find(".tmp") + 4 - taken.size()) : target;
        EXPECT_EQ(row.content == "theirs" ? "new" : row.content, ReadBytes(kept)) << "the new file stays beside";
        if (row.content != "<missing>") continue;
        // The old file is at the name the message gives: no later save takes it.
        const std::string backup = message.substr(row.message.size());
        EXPECT_EQ("old", ReadBytes(backup));
        fs::last_write_time(backup, fs::last_write_time(backup) - std::chrono::hours(48));
        Mark(backup);
        EXPECT_EQ("<no error>", Save(target));
        EXPECT_EQ("old", ReadBytes(backup));
    }
}

// Where a reader lets the file be written but not replaced, the shorter list
// goes over the longer one, on the disk before its new end, and no old byte stays.
TEST(SystemPlacing, AListWrittenInPlaceReachesTheDiskBeforeItsNewEnd) {
    ImportPatch flush("FlushFileBuffers", reinterpret_cast<void*>(FlushAnswered)),
        write("WriteFile", reinterpret_cast<void*>(WriteAnswered)), end("SetEndOfFile", reinterpret_cast<void*>(EndAnswered));
    Windows.patches = {nullptr, nullptr, nullptr, nullptr, &flush, nullptr, nullptr, &write, &end}, Windows.calls.clear();
    TempFolder folder;
    const std::string path = folder / "TmpTmpTmp.vtr";
    WriteBytes(path, std::string(100, 'x'));
    const HANDLE reader = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    WriteOwnVantroList(TMRUStringList(), path);
    ::CloseHandle(reader);
    EXPECT_EQ(" W F E F", Windows.calls);
    EXPECT_EQ(std::string(VANTRO_LIST_SIGNATURE) + "\r\n", ReadBytes(path));
}
#endif
