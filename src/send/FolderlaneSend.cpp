// folderlane-send: how scripts and other programs feed the running agent of
// its copy (the one beside it).
// "folderlane-send FOLDER" sends the folder to the top of the list;
// "folderlane-send --handoff" asks for the hand-off to Vantro. A console
// program, for its messages and exit codes; Explorer uses folderlane-open.
#include "shared/Endpoint.h"
#include "send/Delivery.h"

#include <cwchar>

using namespace delivery;

namespace {

// To a console in UTF-16, which shows every character of a name; to a file
// or pipe in the ANSI code page, which scripts read.
void Say(std::initializer_list<const wchar_t*> parts)
{
    static char bytes[2 * (LONGEST_PATH + 1024)];
    const wchar_t* text = Join(parts);
    const HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text, lstrlenW(text), &written, nullptr);
        return;
    }
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length > 1)
        WriteFile(out, bytes, length - 1, &written, nullptr);
}

int Usage()
{
    Say({L"usage: folderlane-send FOLDER      add FOLDER to the top of the agent's list and open it\n"
         L"       folderlane-send --handoff   hand the agent's list to Vantro\n"});
    return EXIT_REFUSED;
}

int NotTaken(const wchar_t* what)
{
    const DWORD error = GetLastError();
    static WCHAR number[16];
    wsprintfW(number, L"%lu", error);
    if (error == AGENT_RUNS_HIGHER)
        Say({L"folderlane-send: ", AGENT_RUNS_HIGHER_TEXT, L"; or run folderlane-send as administrator too\n"});
    else
        Say({L"folderlane-send: the agent did not take the ", what, L" (error ", number, L")\n"});
    return EXIT_NOT_TAKEN;
}

}  // namespace

int main()
{
    const Arguments arguments;
    if (arguments.Count() != 1 || arguments[0][0] == L'\0')
        return Usage();
    wchar_t* argument = arguments[0];
    const bool handOff = std::wcscmp(argument, L"--handoff") == 0;
    if (!handOff && std::wcsncmp(argument, L"--", 2) == 0)
        return Usage();

    AgentPath path;
    if (!handOff) {
        const PathProblem problem = ToAgentPath(argument, path);
        if (problem != PathProblem::None) {
            Say({L"folderlane-send: ", Explain(problem), L"; nothing was sent\n"});
            return EXIT_REFUSED;
        }
    }

    // Only this copy's agent: another copy's keeps a list of its own.
    HWND agent = PublishedAgent();
    if (!agent) {
        Say({L"folderlane-send: no Folderlane agent of this program's folder is running\n"});
        return EXIT_NO_AGENT;
    }

    if (handOff) {
        // Posted: the hand-off may show a message box, which must not hold us.
        return PostMessageA(agent, WM_HANDOFF, 0, 0) ? EXIT_DELIVERED : NotTaken(L"request");
    }
    return SendFolder(agent, path) ? EXIT_DELIVERED : NotTaken(L"folder");
}
