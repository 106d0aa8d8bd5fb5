#include "folders/FolderList.h"

#include "TestFiles.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;
using testfiles::TempFolder;
using testfiles::WriteBytes;

namespace {

Strings Entries() {
    Strings out;
    for (int i = 0; i < RecentFolders->Count(); ++i) out.push_back(RecentFolders->Get(i));
    return out;
}

// Makes RecentFolders hold the strings, index 0 first, as the agent's Adds
// would have left them.
void SetList(const Strings& indexZeroFirst) {
    RecentFolders->SetMaxStrings(static_cast<int>(indexZeroFirst.size()) + 1);
    for (auto it = indexZeroFirst.rbegin(); it != indexZeroFirst.rend(); ++it)
        RecentFolders->Add(*it);
    RecentFolders->SetMaxStrings(16);
}

std::string Lines(const Strings& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += line + "\r\n";
    return bytes;
}

int confirmations = 0;
bool AnswerYes() { return ++confirmations, true; }
bool AnswerNo() { return ++confirmations, false; }
bool ShutDownThenYes() {
    RecentFolders.reset();
    return true;
}

// FolderList.txt lies beside the test program; each test starts without it
// and removes what it wrote.
class FolderListTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveFolderList();
        RecentFolders = std::make_unique<TMRUStringList>();
        PendingFolder.clear();
        ConfirmRefresh = nullptr;
        confirmations = 0;
    }
    void TearDown() override {
        RemoveFolderList();
        RecentFolders.reset();
        PendingFolder.clear();
        ConfirmRefresh = nullptr;
    }
    static void RemoveFolderList() {
        std::error_code ignored;
        testfiles::fs::remove_all(FolderListPath(), ignored);
    }
    Strings Folders(const std::string& prefix, int count) {
        Strings out;
        for (int i = 0; i < count; ++i) out.push_back(temp.MakeFolder(prefix + std::to_string(i)));
        return out;
    }

    TempFolder temp;
};

} // namespace

TEST_F(FolderListTest, ExistingFoldersKeepTheirOrder) {
    const Strings abc = {temp.MakeFolder("A"), temp.MakeFolder("B"), temp.MakeFolder("C")};
    SetList(abc);
    LoadFolderList();
    EXPECT_EQ(abc, Entries());
    EXPECT_EQ(16, RecentFolders->MaxStrings());
}

TEST_F(FolderListTest, MergesTheFileThenThePendingFolder) {
    const std::string a = temp.MakeFolder("A"), b = temp.MakeFolder("B");
    const std::string x = temp.MakeFolder("X"), y = temp.MakeFolder("Y");
    const std::string p = temp.MakeFolder("P");
    SetList({a, b});
    WriteBytes(FolderListPath(), Lines({x, y}));
    PendingFolder = p;
    LoadFolderList();
    EXPECT_EQ((Strings{p, y, x, a, b}), Entries());
    EXPECT_EQ("", PendingFolder);
    EXPECT_EQ(16, RecentFolders->MaxStrings());

    // The file is read again at every display and goes on top again.
    LoadFolderList();
    EXPECT_EQ((Strings{y, x, p, a, b}), Entries());
}

TEST_F(FolderListTest, ARewriteShowsAtTheNextDisplayWhateverItsSizeAndStamp) {
    const std::string x = temp.MakeFolder("X"), y = temp.MakeFolder("Y");
    const std::string path = FolderListPath();
    // Rewritten with as many bytes within the tick of the write before, as
    // FAT's 2 s ticks allow: the stamp stays as it was.
    WriteBytes(path, x + "\r\n");
    const auto stamp = testfiles::fs::last_write_time(path);
    LoadFolderList();
    WriteBytes(path, y + "\r\n");
    testfiles::fs::last_write_time(path, stamp);
    LoadFolderList();
    EXPECT_EQ((Strings{y, x}), Entries());
    // Written long before it was read, then rewritten with as many bytes.
    testfiles::fs::last_write_time(path, stamp - std::chrono::hours(1));
    LoadFolderList();
    WriteBytes(path, x + "\r\n");
    LoadFolderList();
    EXPECT_EQ((Strings{x, y}), Entries());
}

TEST_F(FolderListTest, ALongFileLeavesItsLastSixteenLines) {
    const std::string root = temp.MakeFolder("root");
    const Strings lines = Folders("f", 30);
    SetList({root});
    WriteBytes(FolderListPath(), Lines(lines));
    LoadFolderList();
    const Strings expected(lines.rbegin(), lines.rbegin() + 16);
    EXPECT_EQ(expected, Entries());
    EXPECT_EQ(16, RecentFolders->MaxStrings());
}

TEST_F(FolderListTest, DropsWhatIsNoLongerAFolderAndJoinsEqualEntries) {
    const std::string a = temp.MakeFolder("A"), b = temp.MakeFolder("B");
    const std::string gone = temp.MakeFolder("gone");
    const std::string file = temp / "file.txt";
    WriteBytes(file, "x");
    testfiles::fs::remove(gone);
    SetList({a, gone, file, "", b});
    // Equal to A under the comparison; only Add would have joined them.
    RecentFolders->Insert(1, temp.MakeFolder("a"));
    PendingFolder = temp / "never";
    LoadFolderList();
    EXPECT_EQ((Strings{a, b}), Entries());
    EXPECT_TRUE(RecentFolders->Dirty);
}

TEST_F(FolderListTest, KeepsTheListWhenNothingExists) {
    const Strings none = {temp / "x", temp / "y", "Q:\\offline\\share"};
    SetList(none);
    RecentFolders->Dirty = false;
    LoadFolderList();
    EXPECT_EQ(none, Entries());
    EXPECT_FALSE(RecentFolders->Dirty);
}

TEST_F(FolderListTest, SixteenExistingFoldersAreAllKept) {
    const Strings folders = Folders("f", 16);
    SetList(folders);
    ASSERT_EQ(16, RecentFolders->Count());
    LoadFolderList();
    EXPECT_EQ(folders, Entries()) << "the most recent folder must stay on top";

    // Beyond 16 only the least recently used go.
    const Strings more = Folders("g", 20);
    RecentFolders->Clear();
    RecentFolders->SetMaxStrings(26);
    for (auto it = more.rbegin(); it != more.rend(); ++it) RecentFolders->Add(*it);
    ASSERT_EQ(more, Entries());
    PruneFolderList();
    EXPECT_EQ(Strings(more.begin(), more.begin() + 16), Entries());
}

TEST_F(FolderListTest, ARefreshAnsweredYesStartsAgainFromTheRoot) {
    const std::string root = DriveRoot(platform::WindowsDirectory());
    SetList({temp.MakeFolder("A"), temp.MakeFolder("B")});
    WriteBytes(FolderListPath(), "x\r\n");
    ConfirmRefresh = AnswerYes;
    ResetFolderList(true);
    EXPECT_EQ(1, confirmations);
    EXPECT_EQ((Strings{root}), Entries());
    EXPECT_FALSE(platform::FileExists(FolderListPath()));

    // A folder of that name is not deleted.
    testfiles::fs::create_directory(FolderListPath());
    SetList({temp / "A"});
    ResetFolderList(true);
    EXPECT_EQ((Strings{root}), Entries());
    EXPECT_TRUE(platform::DirectoryExists(FolderListPath()));
}

TEST_F(FolderListTest, ARefreshAnsweredNoOnlyPutsTheRootOnTop) {
    const std::string root = DriveRoot(platform::WindowsDirectory());
    const std::string a = temp.MakeFolder("A");
    WriteBytes(FolderListPath(), "x\r\n");
    for (auto answer : {AnswerNo, static_cast<bool (*)()>(nullptr)}) {
        ConfirmRefresh = answer;
        SetList({a, root});
        ResetFolderList(true);
        EXPECT_EQ((Strings{root, a}), Entries());
        EXPECT_TRUE(platform::FileExists(FolderListPath()));
    }
    // Without confirmation nobody is asked.
    ConfirmRefresh = AnswerYes;
    confirmations = 0;
    ResetFolderList(false);
    EXPECT_EQ(0, confirmations);
    EXPECT_EQ((Strings{root, a}), Entries());
}

TEST_F(FolderListTest, DoesNothingOnceTheListIsReleased) {
    WriteBytes(FolderListPath(), temp.MakeFolder("A") + "\r\n");
    ConfirmRefresh = ShutDownThenYes;
    ResetFolderList(true);
    EXPECT_EQ(nullptr, RecentFolders);
    EXPECT_TRUE(platform::FileExists(FolderListPath())) << "the refresh ended with the list";

    PendingFolder = temp / "A";
    ConfirmRefresh = AnswerYes;
    ResetFolderList(true);
    ResetFolderList(false);
    LoadFolderList();
    PruneFolderList();
    EXPECT_EQ(0, confirmations);
    EXPECT_EQ(temp / "A", PendingFolder);
    EXPECT_TRUE(platform::FileExists(FolderListPath()));
}

#ifdef _WIN32
TEST_F(FolderListTest, AReadErrorLeavesTheWorkForTheNextDisplay) {
    const std::string a = temp.MakeFolder("A"), p = temp.MakeFolder("P");
    SetList({a});
    WriteBytes(FolderListPath(), temp.MakeFolder("X") + "\r\n");
    PendingFolder = p;
    {
        auto writer = platform::File::Open(FolderListPath(), platform::File::Mode::CreateShareRead);
        EXPECT_THROW(LoadFolderList(), IOError);
    }
    EXPECT_EQ(p, PendingFolder);
    EXPECT_EQ(26, RecentFolders->MaxStrings());
    LoadFolderList(); // the writer emptied the file
    EXPECT_EQ((Strings{p, a}), Entries());
    EXPECT_EQ(16, RecentFolders->MaxStrings());
}
#endif

TEST(DriveRoot, FirstThreeCharactersOrCColonBackslash) {
    const struct { const char* windows; const char* root; } table[] = {
        {"C:\\Windows", "C:\\"}, {"D:\\", "D:\\"}, {"E:", "E:"}, {"", "C:\\"},
    };
    for (const auto& row : table) EXPECT_EQ(row.root, DriveRoot(row.windows)) << row.windows;
}
