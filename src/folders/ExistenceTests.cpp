#include "folders/ExistenceTests.h"

#include "platform/File.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

bool (*FolderExists)(const std::string& path) = platform::DirectoryExists;

namespace {
// Enough that a whole menu's worth of slow shares waits side by side.
constexpr size_t MaxWorkers = 8;
} // namespace

std::vector<char> TestFoldersExist(const std::vector<std::string>& paths) {
    std::vector<char> exists(paths.size(), 0);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < paths.size();) exists[i] = FolderExists(paths[i]);
    };

    std::vector<std::thread> workers;
    const size_t wanted = paths.size() > 1 ? std::min(MaxWorkers, paths.size() - 1) : 0;
    try {
        while (workers.size() < wanted) workers.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones we have, and this one, do it.
    }
    work();
    for (std::thread& worker : workers) worker.join();
    return exists;
}
