// folderlane-open: "Open with Folderlane" in Explorer. A GUI program, so that
// no console flashes up. When no agent runs it starts the one beside it, so
// that the folder still opens and is remembered; what it cannot mend it says
// in a message box, since nobody sees its exit code.
#include "send/Delivery.h"

#include <initializer_list>

using namespace delivery;

namespace {

constexpr DWORD AGENT_START_MS = 10000;
constexpr DWORD POLL_MS = 100;

using Handle = UniqueHandle<HANDLE, CloseHandle>;

WCHAR folder[LONGEST_PATH];
WCHAR commandLine[LONGEST_PATH];
WCHAR message[LONGEST_PATH + 1024];

// Shows the parts, one after the other, in a message box; gives back code.
int Complain(int code, std::initializer_list<const wchar_t*> parts)
{
    message[0] = L'\0';
    int used = 0;
    for (const wchar_t* part : parts) {
        lstrcpynW(message + used, part, static_cast<int>(LONGEST_PATH + 1024 - used));
        used += lstrlenW(message + used);
    }
    MessageBoxW(nullptr, message, L"Folderlane", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return code;
}

const wchar_t* ErrorNumber()
{
    static WCHAR number[16];
    wsprintfW(number, L"%lu", GetLastError());
    return number;
}

// Starts Folderlane.exe from this program's folder and waits, a bounded
// time, for its window. Says itself what went wrong.
HWND StartAgent()
{
    const DWORD length = GetModuleFileNameW(nullptr, folder, LONGEST_PATH - 16);
    DWORD end = length;
    while (end > 0 && folder[end - 1] != L'\\')
        --end;
    if (length == 0 || length >= LONGEST_PATH - 16 || end == 0) {
        Complain(0, {L"Folderlane is not running, and its folder is not known. Start Folderlane, then try again."});
        return nullptr;
    }
    lstrcpyW(folder + end, L"Folderlane.exe");
    wsprintfW(commandLine, L"\"%s\"", folder);
    folder[end] = L'\0';
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    // In its own folder: an agent that kept the opened folder as its current
    // one would keep the user from deleting or renaming it.
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &started)) {
        Complain(0, {L"Folderlane is not running, and ", commandLine, L" could not be started (error ",
                     ErrorNumber(), L").\r\n\r\nStart Folderlane yourself, or install it again; then try again."});
        return nullptr;
    }
    const Handle process(started.hProcess), thread(started.hThread);
    for (DWORD waited = 0; waited < AGENT_START_MS; waited += POLL_MS) {
        if (HWND agent = FindAgent())
            return agent;
        if (WaitForSingleObject(process.get(), POLL_MS) == WAIT_OBJECT_0) {
            Complain(0, {L"Folderlane was started but ended at once.\r\n\r\nStart it yourself, then try again."});
            return nullptr;
        }
    }
    Complain(0, {L"Folderlane was started but was not ready after 10 seconds.\r\n\r\nWait until its icon is in the "
                 L"notification area, then try again."});
    return nullptr;
}

// Explorer runs the verb once for each selected folder, all at the same
// time: one of them starts the agent, the others wait for it and use it.
HWND FindOrStartAgent()
{
    const Handle starting(CreateMutexW(nullptr, FALSE, L"Local\\Folderlane.StartAgent"));
    const DWORD waited = starting ? WaitForSingleObject(starting.get(), AGENT_START_MS + 5000) : WAIT_FAILED;
    HWND agent = FindAgent();
    if (!agent)
        agent = StartAgent();
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(starting.get());
    return agent;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const Arguments arguments;
    if (arguments.Count() != 1)
        return Complain(EXIT_REFUSED, {L"folderlane-open.exe opens one folder through Folderlane:\r\n\r\n"
                                       L"    folderlane-open.exe FOLDER"});
    // An empty folder is the current one: a shell that leaves the
    // background's %V empty (Wine's) still starts the verb in that folder.
    static wchar_t current[] = L".";
    wchar_t* folderName = arguments[0][0] ? arguments[0] : current;
    AgentPath path;
    PathProblem problem = ToAgentPath(folderName, path);
    // The agent would list a folder that is not there and the shell open nothing.
    if (problem == PathProblem::None)
        problem = FolderProblem(path);
    if (problem != PathProblem::None)
        return Complain(EXIT_REFUSED,
                        {L"Folderlane cannot open\r\n\r\n", folderName, L"\r\n\r\n", Explain(problem), L"."});

    HWND agent = FindOrStartAgent();
    if (!agent)
        return EXIT_NO_AGENT;
    if (!SendFolder(agent, path))
        return Complain(EXIT_NOT_TAKEN, {L"Folderlane did not take the folder\r\n\r\n", folderName,
                                         L"\r\n\r\nTry again; if it keeps failing, end Folderlane and start it again."});
    return EXIT_DELIVERED;
}
