// folderlane-open: "Open with Folderlane" in Explorer. A GUI program, so that
// no console flashes up. The folder goes to the agent of its own copy (the
// one beside it), which it starts when that one does not run, so that the
// folder still opens and is remembered; another copy's agent keeps a list
// of its own. What it cannot mend it says in a message box, since nobody
// sees its exit code. Without a folder it only starts the agent: the
// Startup shortcut and setup use that.
#include "send/Delivery.h"

#include <initializer_list>

using namespace delivery;

namespace {

constexpr DWORD AGENT_START_MS = 10000;
constexpr DWORD POLL_MS = 100;
// The start lock's holder may wait for a starting agent's window, then
// start one and wait for its window: others wait longer than that.
constexpr DWORD START_LOCK_HELD_MS = 2 * AGENT_START_MS;
constexpr DWORD START_LOCK_WAIT_MS = START_LOCK_HELD_MS + 5000;

using Handle = UniqueHandle<HANDLE, CloseHandle>;

// This program's folder, with its backslash; empty when it is not known.
WCHAR ownFolder[LONGEST_PATH];
// The agent, quoted, and its command line.
WCHAR program[LONGEST_PATH];
WCHAR commandLine[LONGEST_PATH + 16];

// Shows the parts, one after the other, in a message box; gives back code.
int Complain(int code, std::initializer_list<const wchar_t*> parts)
{
    MessageBoxW(nullptr, Join(parts), L"Folderlane", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return code;
}

// Explorer starts one opener per selected folder, all at once: when they
// all fail alike, one box says so. An opener whose own attempt failed marks
// the failure (before it lets the next one try) when it is to show its box,
// and keeps the mark while the box is open and a few seconds more; one that
// finds it marked by another ends with its code. Per copy, as the agent is.
constexpr DWORD FAILURE_MARK_MS = 5000;
Handle failureMark;
DWORD markedAt;

// False when another opener marked it first.
bool MarkFailure(int code)
{
    static bool first;
    if (!failureMark) {
        WCHAR kind[24];
        wsprintfW(kind, L"OpenFailed%d", code);
        ObjectName name;
        NameOfThisCopys(kind, name);
        OwnObjectAttributes own;
        const HANDLE mark = CreateMutexW(own.get(), FALSE, name);
        first = !mark || GetLastError() != ERROR_ALREADY_EXISTS;
        failureMark.reset(mark);
        markedAt = GetTickCount();
    }
    return first;
}

// The box, unless another opener shows the same failure.
int ComplainOnce(int code, std::initializer_list<const wchar_t*> parts)
{
    if (!MarkFailure(code))
        return code;
    Complain(code, parts);
    const DWORD shown = GetTickCount() - markedAt;
    if (shown < FAILURE_MARK_MS)
        Sleep(FAILURE_MARK_MS - shown);
    return code;
}

// Explorer starts the background's verb in the folder itself: kept as the
// current folder while we wait or show a box, it could not be renamed or
// deleted.
void LeaveForOwnFolder()
{
    const DWORD length = GetModuleFileNameW(nullptr, ownFolder, LONGEST_PATH - 16);
    DWORD end = length < LONGEST_PATH - 16 ? length : 0;
    while (end > 0 && ownFolder[end - 1] != L'\\')
        --end;
    ownFolder[end] = L'\0';
    if (end > 0)
        SetCurrentDirectoryW(ownFolder);
}

// Why the agent could not be had; told only once the lock is released, so
// that a box the user leaves open keeps no other opener waiting.
struct StartFailure {
    enum { None, NoFolder, NotStarted, Ended, NotReady, Busy } kind = None;
    DWORD error = 0;
};

// Starts Folderlane.exe from this program's folder and waits, a bounded
// time, for its window.
HWND StartAgent(StartFailure& failure)
{
    if (!ownFolder[0]) {
        failure.kind = StartFailure::NoFolder;
        return nullptr;
    }
    // Not wsprintfW: it stops at 1024 characters.
    lstrcpyW(program, L"\"");
    lstrcatW(lstrcatW(program, ownFolder), L"Folderlane.exe\"");
    // A start that finds another agent of its copy then shows no menu.
    lstrcatW(lstrcatW(lstrcpyW(commandLine, program), L" "), QUIET_START_ARGUMENT);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    // In its own folder: an agent that kept the opened folder as its current
    // one would keep the user from deleting or renaming it.
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, ownFolder, &startup,
                        &started)) {
        failure = {StartFailure::NotStarted, GetLastError()};
        return nullptr;
    }
    const Handle process(started.hProcess), thread(started.hThread);
    for (DWORD waited = 0; waited < AGENT_START_MS; waited += POLL_MS) {
        if (HWND agent = PublishedAgent())
            return agent;
        if (WaitForSingleObject(process.get(), POLL_MS) == WAIT_OBJECT_0) {
            // An agent of the same folder that started meanwhile keeps the
            // new one from running: then it is there to take the folder.
            if (HWND agent = PublishedAgent())
                return agent;
            failure.kind = StartFailure::Ended;
            return nullptr;
        }
    }
    failure.kind = StartFailure::NotReady;
    return nullptr;
}

// The agent, waiting a bounded time while an agent of this copy holds its
// lock but has no window yet: starting another would only end again.
HWND WaitForAgent()
{
    ObjectName lock;
    NameOfThisCopys(L"Agent", lock);
    for (DWORD waited = 0; waited < AGENT_START_MS; waited += POLL_MS) {
        if (HWND agent = PublishedAgent())
            return agent;
        if (!Handle(OpenMutexW(SYNCHRONIZE, FALSE, lock)))
            break;
        Sleep(POLL_MS);
    }
    return PublishedAgent();
}

// Explorer runs the verb once for each selected folder, all at the same
// time, and the Startup shortcut may run while the user chooses the verb:
// only the holder of the lock starts an agent, the others wait for it and
// use it. One that gets no lock only looks.
HWND FindOrStartAgent(StartFailure& failure, bool startOnly)
{
    ObjectName name;
    NameOfThisCopys(L"StartAgent", name);
    OwnObjectAttributes own;
    const Handle starting(CreateMutexW(own.get(), FALSE, name));
    const DWORD waited = starting ? WaitForSingleObject(starting.get(), START_LOCK_WAIT_MS) : WAIT_FAILED;
    HWND agent = WaitForAgent();
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        if (!agent)
            failure.kind = StartFailure::Busy;
        return agent;
    }
    // A run at log-on says nothing of a slow agent, and marks nothing.
    if (!agent && !(agent = StartAgent(failure)) && !(startOnly && failure.kind == StartFailure::NotReady))
        MarkFailure(EXIT_NO_AGENT);
    ReleaseMutex(starting.get());
    return agent;
}

constexpr wchar_t USAGE[] = L"folderlane-open.exe opens one folder through Folderlane:\r\n\r\n"
                            L"    folderlane-open.exe FOLDER\r\n\r\n"
                            L"Without FOLDER it starts Folderlane, unless Folderlane runs already.";

// Wine's shell leaves the background verb's %V empty but starts the verb in
// that folder. Windows fills it: there an empty argument names no folder,
// and the current one is only where the calling program happened to be.
bool EmptyMeansCurrentFolder()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

constexpr wchar_t WAIT_FOR_ICON[] = L"Wait until its icon is in the notification area, then try again.";

int ComplainNoAgent(const StartFailure& failure, bool startOnly)
{
    static WCHAR number[16];
    switch (failure.kind) {
    case StartFailure::NoFolder:
        return ComplainOnce(EXIT_NO_AGENT, {L"Folderlane is not running, and its folder is not known. Start "
                                            L"Folderlane, then try again."});
    case StartFailure::NotStarted:
        wsprintfW(number, L"%lu", failure.error);
        return ComplainOnce(EXIT_NO_AGENT, {L"Folderlane is not running, and ", program,
                                            L" could not be started (error ", number,
                                            L").\r\n\r\nStart Folderlane yourself, or install it again; "
                                            L"then try again."});
    case StartFailure::Ended:
        return ComplainOnce(EXIT_NO_AGENT,
                            {L"Folderlane was started but ended at once.\r\n\r\nStart it yourself, then try again."});
    case StartFailure::Busy:
        if (startOnly)
            return EXIT_NO_AGENT;
        wsprintfW(number, L"%lu", START_LOCK_WAIT_MS / 1000);
        return ComplainOnce(EXIT_NO_AGENT, {L"Folderlane is being started, but was not ready after ", number,
                                            L" seconds.\r\n\r\n", WAIT_FOR_ICON});
    case StartFailure::NotReady:
    case StartFailure::None:
        break;
    }
    // At log-on a slow agent still comes up, with nobody waiting for it.
    if (startOnly)
        return EXIT_NO_AGENT;
    wsprintfW(number, L"%lu", AGENT_START_MS / 1000);
    return ComplainOnce(EXIT_NO_AGENT,
                        {L"Folderlane was started but was not ready after ", number, L" seconds.\r\n\r\n",
                         WAIT_FOR_ICON});
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const Arguments arguments;
    const bool startOnly = arguments.Count() == 0;
    // Under Wine an empty folder is the current one. The path is made whole
    // before we leave that folder.
    static wchar_t current[] = L".";
    wchar_t* folderName = current;
    AgentPath path;
    PathProblem problem = PathProblem::None;
    if (arguments.Count() == 1) {
        if (arguments[0][0])
            folderName = arguments[0];
        else if (!EmptyMeansCurrentFolder())
            return Complain(EXIT_REFUSED, {L"No folder given. ", USAGE});
        problem = ToAgentPath(folderName, path);
        // The agent would list a folder that is not there and the shell open nothing.
        if (problem == PathProblem::None)
            problem = FolderProblem(path);
    }
    LeaveForOwnFolder();

    if (arguments.Count() > 1)
        return Complain(EXIT_REFUSED, {USAGE});
    if (problem != PathProblem::None)
        return Complain(EXIT_REFUSED,
                        {L"Folderlane cannot open\r\n\r\n", folderName, L"\r\n\r\n", Explain(problem), L"."});

    StartFailure failure;
    HWND agent = FindOrStartAgent(failure, startOnly);
    if (!agent)
        return ComplainNoAgent(failure, startOnly);
    if (startOnly)
        return EXIT_DELIVERED;
    if (!SendFolder(agent, path))
        return ComplainOnce(EXIT_NOT_TAKEN,
                        {L"Folderlane did not take the folder\r\n\r\n", folderName, L"\r\n\r\n",
                         GetLastError() == AGENT_RUNS_HIGHER
                             ? AGENT_RUNS_HIGHER_TEXT
                             : L"Try again; if it keeps failing, end Folderlane and start it again",
                         L"."});
    return EXIT_DELIVERED;
}
