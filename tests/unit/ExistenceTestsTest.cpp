#include "folders/ExistenceTests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A stand-in test that answers only once `wanted` calls wait at the same
// time (or after a generous bound, so that a failure cannot hang the run).
struct Rendezvous {
    std::mutex mutex;
    std::condition_variable arrived;
    int inFlight = 0;
    int mostInFlight = 0;
    int wanted = 0;
};
Rendezvous* meeting = nullptr;

bool ExistsWhenMet(const std::string& path) {
    std::unique_lock<std::mutex> lock(meeting->mutex);
    meeting->mostInFlight = std::max(meeting->mostInFlight, ++meeting->inFlight);
    meeting->arrived.notify_all();
    meeting->arrived.wait_for(lock, std::chrono::seconds(20),
                              [] { return meeting->mostInFlight >= meeting->wanted; });
    --meeting->inFlight;
    return path.rfind("yes", 0) == 0;
}

struct SeamGuard {
    bool (*savedTest)(const std::string&) = FolderExists;
    bool (*savedSlow)(const std::string&) = MayAnswerSlowly;
    ~SeamGuard() {
        FolderExists = savedTest;
        MayAnswerSlowly = savedSlow;
    }
};

} // namespace

TEST(ExistenceTests, SlowAnswersWaitSideBySideAndKeepTheirOrder) {
    SeamGuard guard;
    Rendezvous rendezvous;
    rendezvous.wanted = 8;
    meeting = &rendezvous;
    FolderExists = ExistsWhenMet;
    MayAnswerSlowly = [](const std::string&) { return true; };

    std::vector<std::string> paths;
    std::vector<char> expected;
    for (int i = 0; i < 16; ++i) {
        const bool yes = i % 3 != 1;
        paths.push_back((yes ? "yes" : "no") + std::to_string(i));
        expected.push_back(yes);
    }
    EXPECT_EQ(expected, TestFoldersExist(paths));
    EXPECT_GE(rendezvous.mostInFlight, 8) << "eight slow shares should cost one wait, not eight";
}

TEST(ExistenceTests, QuickPathsAreTestedOnTheCallingThread) {
    SeamGuard guard;
    static std::thread::id caller;
    static int elsewhere;
    caller = std::this_thread::get_id();
    elsewhere = 0;
    FolderExists = [](const std::string& path) {
        elsewhere += std::this_thread::get_id() != caller;
        return path.size() % 2 == 0;
    };
    // Only the two network paths may run elsewhere; they are not counted.
    MayAnswerSlowly = [](const std::string& path) { return path.rfind("\\\\", 0) == 0; };
    std::vector<std::string> paths = {"ab", "abc", "C:\\x", "D:\\"};
    EXPECT_EQ((std::vector<char>{1, 0, 1, 0}), TestFoldersExist(paths));
    EXPECT_EQ(0, elsewhere) << "local paths answer at once: no thread for them";

    FolderExists = [](const std::string& path) { return path.size() % 2 == 0; };
    paths = {"\\\\a\\s", "x", "\\\\b\\sh", "yy"};
    EXPECT_EQ((std::vector<char>{0, 0, 1, 1}), TestFoldersExist(paths));
    // Enough local folders found: what follows is not tested; a slow one before is.
    paths.push_back("zz");
    EXPECT_EQ((std::vector<char>{0, 0, 1, 1, 0}), TestFoldersExist(paths, 1));
}

TEST(ExistenceTests, NetworkPathsMayAnswerSlowly) {
    EXPECT_TRUE(MayAnswerSlowly("\\\\server\\share\\folder"));
    EXPECT_TRUE(MayAnswerSlowly("//server/share"));
    EXPECT_FALSE(MayAnswerSlowly(""));
    EXPECT_FALSE(MayAnswerSlowly("\\"));
    EXPECT_FALSE(MayAnswerSlowly("relative\\folder"));
#ifdef _WIN32
    EXPECT_FALSE(MayAnswerSlowly("C:\\"));
#endif
}

TEST(ExistenceTests, EmptyAndSingleLists) {
    EXPECT_TRUE(TestFoldersExist({}).empty());
    SeamGuard guard;
    FolderExists = [](const std::string& path) { return path == "here"; };
    EXPECT_EQ(std::vector<char>{1}, TestFoldersExist({"here"}));
    EXPECT_EQ((std::vector<char>{0, 1, 0}), TestFoldersExist({"a", "here", "b"}));
}
