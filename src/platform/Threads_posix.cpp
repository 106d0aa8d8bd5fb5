#include "platform/Threads.h"

#include <system_error>
#include <thread>
#include <vector>

namespace platform {

void RunSideBySide(std::size_t extra, const std::function<void()>& work) {
    std::vector<std::thread> threads;
    try {
        while (threads.size() < extra) threads.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads to be had: the caller's share grows.
    }
    work();
    for (std::thread& thread : threads) thread.join();
}

} // namespace platform
