// Times the menu-time load of a list of 16 real folders of which k answer
// the existence test slowly, as an offline network share does. The slow
// test is put in the folders' existence-test seam; everything else is the
// product's code.
//
//   slow_folders_bench [rounds] [delay ms]
//
// Output, one sample a line: "slow_k<k> <round> <milliseconds>", rounds
// alternating over k = 0, 1, 8.
#include "folders/ExistenceTests.h"
#include "folders/FolderList.h"
#include "platform/File.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Folders = 16;
const std::string SlowMark = "/slow-";
std::chrono::milliseconds SlowDelay(200);

bool SlowFolderExists(const std::string& path) {
    if (path.find(SlowMark) != std::string::npos) std::this_thread::sleep_for(SlowDelay);
    return platform::DirectoryExists(path);
}

// Index 0 first; the slow ones spread evenly over the list.
std::vector<std::string> MakeFolders(const std::string& root, int slow) {
    std::vector<std::string> paths;
    for (int i = 0; i < Folders; ++i) {
        const bool isSlow = slow > 0 && i % (Folders / slow) == 0 && i / (Folders / slow) < slow;
        char name[32];
        std::snprintf(name, sizeof name, "%s%02d", isSlow ? "slow-" : "folder-", i);
        paths.push_back(root + "/" + name);
        mkdir(paths.back().c_str(), 0755);
    }
    return paths;
}

double TimeLoad(const std::vector<std::string>& paths) {
    RecentFolders = std::make_unique<TMRUStringList>();
    // Room for all 16: a list filled through Add holds one less than its limit.
    RecentFolders->SetMaxStrings(Folders + 1);
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) RecentFolders->Add(*it);
    const auto start = std::chrono::steady_clock::now();
    LoadFolderList();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    bool same = RecentFolders->Count() == Folders;
    for (int i = 0; same && i < Folders; ++i) same = RecentFolders->Get(i) == paths[i];
    if (!same) {
        std::fprintf(stderr, "the load changed the list: %d entries\n", RecentFolders->Count());
        std::exit(1);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (argc > 2) SlowDelay = std::chrono::milliseconds(std::atoi(argv[2]));
    if (platform::FileExists(FolderListPath())) {
        std::fprintf(stderr, "%s is there: it would be merged too\n", FolderListPath().c_str());
        return 1;
    }
    char pattern[] = "/tmp/slowbench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string root = pattern;

    FolderExists = SlowFolderExists;
    // The slow ones stand for offline network shares.
    MayAnswerSlowly = [](const std::string& path) { return path.find(SlowMark) != std::string::npos; };
    const int ks[] = {0, 1, 8};
    std::vector<std::string> lists[3];
    for (int i = 0; i < 3; ++i) lists[i] = MakeFolders(root, ks[i]);
    for (int round = 1; round <= rounds; ++round)
        for (int i = 0; i < 3; ++i) std::printf("slow_k%d %d %.3f\n", ks[i], round, TimeLoad(lists[i]));

    RecentFolders.reset();
    for (const auto& list : lists)
        for (const auto& path : list) rmdir(path.c_str());
    rmdir(root.c_str());
    return 0;
}
