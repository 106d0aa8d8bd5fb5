#include "export/VantroList.h"

#include "folders/FolderList.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/Handle.h"
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string Signature = "{5B585BC9-5C80-4a86-8B15-9EAF2FF9ED3F}\r\n";

// A fresh folder for each test, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                (std::string("vantro-") + test->test_suite_name() + "-" + test->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Fills a most-recently-used list so that entries[0] ends at index 0.
void Fill(TMRUStringList& list, const std::vector<std::string>& entries) {
    list.SetMaxStrings(static_cast<int>(entries.size()) + 2);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) list.Add(*it);
    ASSERT_EQ(static_cast<int>(entries.size()), list.Count());
    for (int i = 0; i < list.Count(); ++i) ASSERT_EQ(entries[i], list.Get(i));
}

std::string Lines(const std::vector<std::string>& entries) {
    std::string bytes = Signature;
    for (const auto& e : entries) bytes += e + "\r\n";
    return bytes;
}

unsigned WriteError(const TMRUStringList& list, const std::string& path, std::string* message) {
    try {
        WriteVantroList(list, path);
    } catch (const IOError& error) {
        *message = error.what();
        return error.Code();
    }
    ADD_FAILURE() << "no IOError for " << path;
    return 0;
}

} // namespace

TEST(VantroList, WritesTheSignatureThenEveryEntryInIndexOrder) {
    const std::string longEntry(300, 'L'); // more than the whole write buffer
    std::vector<std::string> many;
    for (int i = 0; i < 40; ++i) many.push_back("C:\\Folder number " + std::to_string(i));
    const struct {
        const char* what;
        std::vector<std::string> entries;
        std::string expected;
    } table[] = {
        {"empty list", {}, Signature},
        {"folder and drive root", {"C:\\A", "D:\\"}, Signature + "C:\\A\r\nD:\\\r\n"},
        {"bytes above 0x7F", {"C:\\Caf\xE9\\\xC4\xFF\x80"}, Signature + "C:\\Caf\xE9\\\xC4\xFF\x80\r\n"},
        {"empty entries", {"", "C:\\", " "}, Signature + "\r\nC:\\\r\n \r\n"},
        // 40 + 86 + 2: the buffer is exactly full when the list ends.
        {"one full buffer", {std::string(86, 'x')}, Lines({std::string(86, 'x')})},
        {"one byte more", {std::string(87, 'x')}, Lines({std::string(87, 'x')})},
        {"entry longer than the buffer", {"C:\\", longEntry, "D:\\"}, Lines({"C:\\", longEntry, "D:\\"})},
        {"many lines", many, Lines(many)},
    };
    TempFolder folder;
    for (const auto& row : table) {
        TMRUStringList list;
        Fill(list, row.entries);
        const std::string path = folder / "list.vtr";
        WriteVantroList(list, path);
        EXPECT_EQ(row.expected, ReadBytes(path)) << row.what;
    }
}

TEST(VantroList, FollowsIndexOrderOfASortedList) {
    TempFolder folder;
    TMRUStringList list;
    list.Order = OrderRevSort;
    list.SetSorted(true);
    for (const char* s : {"B:\\", "C:\\", "A:\\"}) list.Add(s);
    const std::string path = folder / "sorted.vtr";
    WriteVantroList(list, path);
    EXPECT_EQ(Lines({"C:\\", "B:\\", "A:\\"}), ReadBytes(path));
}

TEST(VantroList, ReplacesALongerFileWhole) {
    TempFolder folder;
    const std::string path = folder / "old.vtr";
    WriteBytes(path, std::string(1000, 'o'));
    TMRUStringList list;
    Fill(list, {"C:\\A", "D:\\"});
    WriteVantroList(list, path);
    EXPECT_EQ(Lines({"C:\\A", "D:\\"}), ReadBytes(path));
}

TEST(VantroList, LeavesTheListAndItsDirtyFlagAsTheyWere) {
    TempFolder folder;
    for (bool dirty : {false, true}) {
        TMRUStringList list;
        Fill(list, {"C:\\A", "D:\\", "E:\\B"});
        list.Dirty = dirty;
        WriteVantroList(list, folder / "list.vtr");
        EXPECT_EQ(dirty, list.Dirty);
        ASSERT_EQ(3, list.Count());
        EXPECT_EQ("C:\\A", list.Get(0));
        EXPECT_EQ("E:\\B", list.Get(2));
    }
}

TEST(VantroList, TheOneArgumentFormWritesRecentFoldersAndNothingWithoutThem) {
    TempFolder folder;
    const std::string path = folder / "recent.vtr";
    RecentFolders.reset();
    EXPECT_NO_THROW(WriteVantroList(path));
    EXPECT_FALSE(fs::exists(path));

    RecentFolders = std::make_unique<TMRUStringList>();
    Fill(*RecentFolders, {"C:\\Work", "C:\\"});
    RecentFolders->Dirty = false;
    WriteVantroList(path);
    EXPECT_EQ(Lines({"C:\\Work", "C:\\"}), ReadBytes(path));
    EXPECT_FALSE(RecentFolders->Dirty);
    RecentFolders.reset();
}

TEST(VantroList, NeverWritesUnderANameCutTo259Characters) {
    // Nested folders, so that no single name goes past the file system's
    // limit, with the file's own name straddling character 259.
    TempFolder folder;
    fs::path dir = folder.Path();
    while (dir.string().size() + 41 < 258) dir /= std::string(40, 'd');
    fs::create_directories(dir);
    const std::string path = (dir / (std::string(60, 'n') + ".vtr")).string();
    ASSERT_GT(path.size(), 259u);
    const std::string cut = path.substr(0, 259);
    ASSERT_EQ(dir, fs::path(cut).parent_path());

    TMRUStringList list;
    Fill(list, {"C:\\A"});
    WriteVantroList(list, path);
    EXPECT_TRUE(platform::FileExists(path)) << "as the hand-off checks it";
    EXPECT_FALSE(fs::exists(cut));
}

TEST(VantroList, AFolderWithNoRoomForANameBesideStillGetsANewFile) {
    TempFolder folder;
    fs::path dir = folder.Path();
    while (dir.string().size() + 41 < 249) dir /= std::string(40, 'd');
    fs::create_directories(dir /= std::string(248 - dir.string().size(), 'e'));
    const std::string path = (dir / "a.vtr").string();
    ASSERT_TRUE(path.size() <= 259u && path.size() - 5 + 11 > 259u) << "no room for ~FL0000.tmp: " << path.size();
    WriteBytes(path, "old");
#ifdef _WIN32
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN); // refuses a create in place
#endif
    platform::ReplacingFile file(path, platform::File::Mode::CreateShareRead);
    file.Write("new", 3);
    EXPECT_EQ("old", ReadBytes(path)) << "written in place";
    file.Commit();
    EXPECT_EQ("new", ReadBytes(path));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir), fs::directory_iterator())) << "nothing beside it";
#ifdef _WIN32
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE}, ::GetFileAttributesA(path.c_str()));
#endif
}

TEST(VantroList, AFolderMissingOnThePathIsReportedAndCreatesNothing) {
    TempFolder folder;
    const std::string path = (folder.Path() / "missing" / "list.vtr").string();
    TMRUStringList list;
    Fill(list, {"C:\\A"});
    std::string message;
    const unsigned code = WriteError(list, path, &message);
#ifdef _WIN32
    EXPECT_EQ(3u, code);
    EXPECT_EQ("Invalid filename", message);
#else
    // The POSIX layer maps ENOENT to ERROR_FILE_NOT_FOUND.
    EXPECT_EQ(2u, code);
    EXPECT_EQ("File not found", message);
#endif
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST(VantroList, AFolderStandingAtThePathIsAccessDenied) {
    TempFolder folder;
    const std::string path = folder / "taken.vtr";
    fs::create_directory(path);
    TMRUStringList list;
    std::string message;
    EXPECT_EQ(5u, WriteError(list, path, &message));
    EXPECT_EQ("File access denied", message);
    EXPECT_TRUE(fs::is_directory(path));
}

#ifdef _WIN32
namespace {
void CloseWin32(std::intptr_t handle) { ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }
using Win32File = UniqueHandle<std::intptr_t, CloseWin32, -1>;

Win32File OpenForReading(const std::string& path, DWORD share) {
    return Win32File(reinterpret_cast<std::intptr_t>(::CreateFileA(
        path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}
} // namespace

TEST(VantroList, AFileHeldWithoutWriteOrDeleteSharingIsASharingViolation) {
    TempFolder folder;
    const std::string path = folder / "held.vtr";
    WriteBytes(path, "old content");
    TMRUStringList list;
    Fill(list, {"C:\\A"});
    // Replacing the file removes the old one: a reader must let others
    // write and delete it.
    for (DWORD share : {FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE}) {
        Win32File reader = OpenForReading(path, share);
        ASSERT_TRUE(reader);
        std::string message;
        EXPECT_EQ(32u, WriteError(list, path, &message)) << share;
        EXPECT_EQ("I/O error 32", message);
        EXPECT_EQ("old content", ReadBytes(path));
    }
    {
        Win32File reader = OpenForReading(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        ASSERT_TRUE(reader);
        WriteVantroList(list, path);
    }
    // The written file is released again: a reader that forbids writing gets in.
    EXPECT_TRUE(OpenForReading(path, FILE_SHARE_READ));
    EXPECT_EQ(Lines({"C:\\A"}), ReadBytes(path));
}
#else
TEST(VantroList, AFailedWriteIsReportedWithTheSystemCode) {
    // Every write to /dev/full fails with ENOSPC, ERROR_DISK_FULL's twin.
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (int entries : {0, 50}) {
        TMRUStringList list;
        std::vector<std::string> folders;
        for (int i = 0; i < entries; ++i) folders.push_back("/folder/" + std::to_string(i));
        Fill(list, folders);
        std::string message;
        EXPECT_EQ(112u, WriteError(list, "/dev/full", &message)) << entries;
        EXPECT_EQ("I/O error 112", message);
    }
}
#endif
