#include "folders/ExistenceTests.h"

#include "platform/File.h"
#include "platform/Threads.h"

#include <algorithm>
#include <atomic>

bool (*FolderExists)(const std::string& path) = platform::DirectoryExists;
bool (*MayAnswerSlowly)(const std::string& path) = platform::MayAnswerSlowly;

namespace {
// Enough that a whole menu's worth of offline shares waits side by side.
constexpr size_t MaxWorkers = 8;
} // namespace

std::vector<char> TestFoldersExist(const std::vector<std::string>& paths, std::size_t enough) {
    std::vector<char> exists(paths.size(), 0);
    std::vector<size_t> slow;
    for (size_t i = 0, found = 0; i < paths.size() && found < enough; ++i) {
        if (MayAnswerSlowly(paths[i]))
            slow.push_back(i);
        else
            found += exists[i] = FolderExists(paths[i]);
    }

    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k; (k = next.fetch_add(1)) < slow.size();) exists[slow[k]] = FolderExists(paths[slow[k]]);
    };
    if (slow.size() > 1)
        platform::RunSideBySide(std::min(MaxWorkers, slow.size() - 1), work);
    else
        work();
    return exists;
}
