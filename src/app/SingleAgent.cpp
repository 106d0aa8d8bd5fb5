// One agent per copy of the program and session. A user who does not find
// the icon (Windows hides new ones behind the overflow arrow) starts the
// program again; Windows restarts it after an update or a crash. A second
// agent of the same folder would keep a list of its own that the senders
// feed at random, so the second start shows the running agent's menu and
// ends. Copies in other folders keep their own FolderList.txt and run on
// their own.
#include "app/Nelvo.h"
#include "platform/Handle.h"

#include <memory>

namespace {

// A running agent that holds the lock may still be making its window.
constexpr DWORD WAIT_FOR_WINDOW_MS = 10000;
constexpr DWORD POLL_MS = 100;
constexpr DWORD LONGEST_PATH = 32768;

using Handle = UniqueHandle<HANDLE, CloseHandle>;

// Held until the process ends; an agent that ended without letting go
// leaves it abandoned, which the next start takes.
Handle AgentLock;

// A program's folder, long names, in upper case: a comparison without regard
// to case, as the file system makes it. Empty when the path is not known.
// On the heap: a path may take 64 KiB.
class Folder {
public:
    // The folder of this process's program, or of another process's.
    void OfProcess(DWORD pid) {
        path_[0] = L'\0';
        DWORD length = LONGEST_PATH;
        if (pid == GetCurrentProcessId()) {
            length = GetModuleFileNameW(nullptr, path_.get(), LONGEST_PATH);
            if (length >= LONGEST_PATH) length = 0;
        } else {
            const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
            if (!process || !QueryFullProcessImageNameW(process.get(), 0, path_.get(), &length)) length = 0;
        }
        path_[length] = L'\0';
        if (!length) return;
        GetLongPathNameW(path_.get(), path_.get(), LONGEST_PATH);
        WCHAR* end = path_.get() + lstrlenW(path_.get());
        while (end > path_.get() && end[-1] != L'\\' && end[-1] != L':') --end;
        *end = L'\0';
        CharUpperBuffW(path_.get(), static_cast<DWORD>(end - path_.get()));
    }
    const WCHAR* Path() const { return path_.get(); }
    bool operator==(const Folder& other) const { return path_[0] && lstrcmpW(Path(), other.Path()) == 0; }

private:
    std::unique_ptr<WCHAR[]> path_{new WCHAR[LONGEST_PATH]};
};

// In the session's namespace. A path cannot be an object's name (its
// backslashes are the namespace's), so the name carries the folder's hash.
void LockName(const Folder& folder, WCHAR (&name)[64]) {
    unsigned long long hash = 14695981039346656037ull;
    for (const WCHAR* unit = folder.Path(); *unit; ++unit)
        hash = (hash ^ static_cast<unsigned short>(*unit)) * 1099511628211ull;
    wsprintfW(name, L"Local\\Folderlane.Agent.%08lX%08lX", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash));
}

HWND RunningAgentOf(const Folder& folder) {
    Folder other;
    for (HWND window = nullptr;
         (window = FindWindowExA(nullptr, window, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == GetCurrentProcessId()) continue;
        other.OfProcess(pid);
        if (other == folder) return window;
    }
    return nullptr;
}

// As a right-button press on its icon would: the list reloaded and shown.
void ShowMenuOf(HWND agent) {
    DWORD pid = 0;
    GetWindowThreadProcessId(agent, &pid);
    // Without the foreground the menu would not close on a click elsewhere.
    AllowSetForegroundWindow(pid);
    PostMessageA(agent, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN);
}

} // namespace

bool BecomeTheAgent() {
    Folder own;
    own.OfProcess(GetCurrentProcessId());
    WCHAR name[64];
    LockName(own, name);
    AgentLock.reset(CreateMutexW(nullptr, FALSE, name));
    // Without the lock (another account's agent holds the name) the agent
    // runs, as any copy did before.
    if (!AgentLock) return true;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited = WaitForSingleObject(AgentLock.get(), POLL_MS);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED || waited == WAIT_FAILED) return true;
        if (HWND agent = RunningAgentOf(own)) {
            ShowMenuOf(agent);
            return false;
        }
        // Still starting: it will show its icon itself.
        if (GetTickCount() - start >= WAIT_FOR_WINDOW_MS) return false;
    }
}
