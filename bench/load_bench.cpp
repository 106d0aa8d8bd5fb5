// Where the time of a menu-time load goes: the whole LoadFolderList as the
// menu runs it (26-line FolderList.txt, 16 listed folders, all existing), and
// its parts on their own. Built natively and for Windows, so the same code
// can be timed under Wine and profiled natively.
//
//   load_bench FOLDER [rounds] [iterations]
//
// Makes FOLDER\Folder 01..26 and FolderList.txt beside the executable
// (removed again). Output, one sample a line: "load_<part> <round> <ms>",
// each the median of the round's iterations.
#include "folders/ExistenceTests.h"
#include "folders/FolderList.h"
#include "platform/File.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#define MAKE_DIRECTORY(path) _mkdir(path)
#define REMOVE_DIRECTORY(path) _rmdir(path)
const char Separator = '\\';
#else
#include <sys/stat.h>
#include <unistd.h>
#define MAKE_DIRECTORY(path) mkdir(path, 0755)
#define REMOVE_DIRECTORY(path) rmdir(path)
const char Separator = '/';
#endif

namespace {

constexpr int Lines = 26;

template <typename Work>
double Milliseconds(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: load_bench FOLDER [rounds] [iterations]\n");
        return 2;
    }
    const std::string root = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int iterations = argc > 3 ? std::atoi(argv[3]) : 200;

    std::vector<std::string> folders;
    std::string content;
    MAKE_DIRECTORY(root.c_str());
    for (int i = 1; i <= Lines; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%cFolder %02d", Separator, i);
        folders.push_back(root + name);
        MAKE_DIRECTORY(folders.back().c_str());
        content += folders.back() + "\r\n";
    }
    const std::string listFile = FolderListPath();
    {
        platform::File file = platform::File::Open(listFile, platform::File::Mode::CreateShareRead);
        file.Write(content.data(), content.size());
        file.Close();
    }
    // What the pruning tests after the merge: 25 entries (the merge limit).
    const std::vector<std::string> merged(folders.rbegin(), folders.rbegin() + Lines - 1);

    RecentFolders = std::make_unique<TMRUStringList>();
    RecentFolders->SetMaxStrings(16);
    RecentFolders->Add(root);
    // The first load of a process, as the first menu after start runs it;
    // then the steady state of the menu: 16 folders listed.
    std::printf("load_first 1 %.4f\n", Milliseconds([] { LoadFolderList(); }));

    struct Part {
        const char* name;
        void (*work)(const std::vector<std::string>&, const std::string&);
    };
    const Part parts[] = {
        {"whole", [](const std::vector<std::string>&, const std::string&) { LoadFolderList(); }},
        {"file_exists", [](const std::vector<std::string>&, const std::string& file) {
             platform::FileExists(file);
         }},
        {"merge_file", [](const std::vector<std::string>&, const std::string& file) {
             TMRUStringList list;
             list.SetMaxStrings(26);
             for (int i = 15; i >= 0; --i) list.Add(RecentFolders->Get(i));
             list.LoadFromFile(file);
         }},
        {"tests_side_by_side", [](const std::vector<std::string>& paths, const std::string&) {
             TestFoldersExist(paths);
         }},
        {"tests_one_by_one", [](const std::vector<std::string>& paths, const std::string&) {
             for (const std::string& path : paths) FolderExists(path);
         }},
        {"threads_8_empty", [](const std::vector<std::string>&, const std::string&) {
             std::vector<std::thread> threads;
             for (int i = 0; i < 8; ++i) threads.emplace_back([] {});
             for (auto& thread : threads) thread.join();
         }},
    };

    for (int round = 1; round <= rounds; ++round)
        for (const Part& part : parts) {
            std::vector<double> times;
            for (int i = 0; i < iterations; ++i) times.push_back(Milliseconds([&] { part.work(merged, listFile); }));
            std::printf("load_%s %d %.4f\n", part.name, round, Median(times));
        }
    if (RecentFolders->Count() != 16 || RecentFolders->Get(0) != folders.back()) {
        std::fprintf(stderr, "unexpected list: %d entries\n", RecentFolders->Count());
        return 1;
    }

    RecentFolders.reset();
    platform::RemoveFile(listFile);
    for (const std::string& folder : folders) REMOVE_DIRECTORY(folder.c_str());
    REMOVE_DIRECTORY(root.c_str());
    return 0;
}
