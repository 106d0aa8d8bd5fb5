#include "folders/ExistenceTests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

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
    bool (*saved)(const std::string&) = FolderExists;
    ~SeamGuard() { FolderExists = saved; }
};

} // namespace

TEST(ExistenceTests, SlowAnswersWaitSideBySideAndKeepTheirOrder) {
    SeamGuard guard;
    Rendezvous rendezvous;
    rendezvous.wanted = 8;
    meeting = &rendezvous;
    FolderExists = ExistsWhenMet;

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

TEST(ExistenceTests, EmptyAndSingleLists) {
    EXPECT_TRUE(TestFoldersExist({}).empty());
    SeamGuard guard;
    FolderExists = [](const std::string& path) { return path == "here"; };
    EXPECT_EQ(std::vector<char>{1}, TestFoldersExist({"here"}));
    EXPECT_EQ((std::vector<char>{0, 1, 0}), TestFoldersExist({"a", "here", "b"}));
}
