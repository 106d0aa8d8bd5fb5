#include "platform/Threads.h"

#include "platform/Handle.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

// The work only waits on the file system: a small stack is plenty.
constexpr SIZE_T WORKER_STACK = 64 * 1024;

DWORD WINAPI RunWork(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

using ThreadHandle = UniqueHandle<HANDLE, CloseHandle>;

} // namespace

void RunSideBySide(std::size_t extra, const std::function<void()>& work) {
    // Reserved first: once a thread runs, nothing may throw before the wait.
    std::vector<ThreadHandle> threads;
    std::vector<HANDLE> waits;
    threads.reserve(extra);
    waits.reserve(extra);
    for (std::size_t i = 0; i < extra; ++i) {
        ThreadHandle thread(CreateThread(nullptr, WORKER_STACK, RunWork, const_cast<std::function<void()>*>(&work),
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!thread) break;
        waits.push_back(thread.get());
        threads.push_back(std::move(thread));
    }
    work();
    if (!waits.empty()) WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), TRUE, INFINITE);
}

} // namespace platform
