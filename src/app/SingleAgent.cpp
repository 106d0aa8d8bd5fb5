// One agent per copy of the program and session. A user who does not find
// the icon (Windows hides new ones behind the overflow arrow) starts the
// program again; Windows restarts it after an update or a crash. A second
// agent of the same folder would keep a list of its own that the senders
// feed at random, so the second start shows the running agent's menu and
// ends. Copies in other folders keep their own FolderList.txt and run on
// their own.
#include "app/Nelvo.h"
#include "platform/Handle.h"

namespace {

// A running agent that holds the lock may still be making its window.
constexpr DWORD WAIT_FOR_WINDOW_MS = 10000;
constexpr DWORD POLL_MS = 100;
// An agent busy with the shell answers within this; a hung one does not.
constexpr UINT ANSWER_MS = 5000;
constexpr int EXIT_NOT_ANSWERING = 1;

constexpr wchar_t NOT_ANSWERING_TEXT[] =
    L"Folderlane is running but not answering.\r\n\r\nEnd Folderlane.exe in the Task Manager (its Details), "
    L"then start Folderlane again.";

using Handle = UniqueHandle<HANDLE, CloseHandle>;

// Held until the process ends; an agent that ended without letting go
// leaves it abandoned, which the next start takes.
Handle AgentLock;
// The section that tells the window to later starts.
Handle WindowSection;

void Tell(const wchar_t* text) {
    MessageBoxW(nullptr, text, L"Folderlane", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void TellRunsHigher() {
    WCHAR text[sizeof AGENT_RUNS_HIGHER_TEXT / sizeof(WCHAR) + 1];
    Tell(lstrcatW(lstrcpyW(text, AGENT_RUNS_HIGHER_TEXT), L"."));
}

// An opener's start says so on the command line: it shows no menu. The
// show state a launcher gives is no sign of it: Windows applies it to the
// first window shown, and a shortcut set to "Minimised" gives one too.
bool StartedQuietly() {
    // Last on the line: no name of a file has a slash in it.
    const wchar_t* line = GetCommandLineW();
    const int length = lstrlenW(line), argument = lstrlenW(QUIET_START_ARGUMENT);
    return length > argument && line[length - argument - 1] == L' ' &&
           lstrcmpiW(line + length - argument, QUIET_START_ARGUMENT) == 0;
}

// What became of the question to the running agent.
enum class Answer { Shown, Gone };

// As the keyboard's menu key on its icon would: the list reloaded and shown
// at the icon. Only when the foreground can be passed on: without it the
// menu would not close when the user clicks elsewhere.
Answer ShowMenuOf(HWND agent, int& exitCode) {
    DWORD_PTR answer = 0;
    // The call does not always set an error: 0 is what older systems left
    // for a time-out.
    SetLastError(ERROR_SUCCESS);
    if (!SendMessageTimeoutW(agent, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ANSWER_MS, &answer)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            TellRunsHigher();
            return Answer::Shown;
        }
        // An agent that just closed its window is ending: its lock comes
        // free soon. Only a time-out is a hang.
        if (error == ERROR_INVALID_WINDOW_HANDLE || !IsWindow(agent)) return Answer::Gone;
        Tell(NOT_ANSWERING_TEXT);
        exitCode = EXIT_NOT_ANSWERING;
        return Answer::Shown;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(agent, &pid);
    if (!StartedQuietly() && AllowSetForegroundWindow(pid))
        PostMessageA(agent, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_CONTEXTMENU);
    return Answer::Shown;
}

} // namespace

bool BecomeTheAgent(int& exitCode) {
    exitCode = 0;
    OwnObjectAttributes own;
    ObjectName name;
    NameOfThisCopys(L"Agent", name);
    AgentLock.reset(CreateMutexW(own.get(), FALSE, name));
    if (!AgentLock) {
        // An agent with other rights holds it (started as administrator, or
        // another account's in this session): it runs, and this one would
        // be a second icon that its senders cannot tell apart.
        if (GetLastError() != ERROR_ACCESS_DENIED) return true;
        TellRunsHigher();
        return false;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited = WaitForSingleObject(AgentLock.get(), POLL_MS);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED || waited == WAIT_FAILED) {
            NameOfThisCopys(L"AgentWindow", name);
            WindowSection.reset(
                CreateFileMappingW(INVALID_HANDLE_VALUE, own.get(), PAGE_READWRITE, 0, sizeof(DWORD), name));
            // Made by another process first: not ours to write, nor to
            // trust; the senders find the window among the agents'.
            if (GetLastError() == ERROR_ALREADY_EXISTS) WindowSection.reset();
            return true;
        }
        if (HWND agent = PublishedAgent())
            if (ShowMenuOf(agent, exitCode) == Answer::Shown) return false;
        // Still starting: it will show its icon itself.
        if (GetTickCount() - start >= WAIT_FOR_WINDOW_MS) return false;
    }
}

void PublishMainWindow() {
    using View = UniqueHandle<void*, UnmapViewOfFile>;
    const View view(WindowSection ? MapViewOfFile(WindowSection.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD)) : nullptr);
    if (view) *static_cast<volatile DWORD*>(view.get()) = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(MainWindow));
}
