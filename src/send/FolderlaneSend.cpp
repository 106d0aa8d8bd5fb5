// folderlane-send: how scripts and other programs feed a running agent.
// "folderlane-send FOLDER" sends the folder to the top of the list;
// "folderlane-send --handoff" asks for the hand-off to Vantro. A console
// program, for its messages and exit codes; Explorer uses folderlane-open.
#include "app/Endpoint.h"
#include "send/Delivery.h"

#include <cstdio>
#include <cwchar>

using namespace delivery;

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: folderlane-send FOLDER      add FOLDER to the top of the agent's list and open it\n"
                 "       folderlane-send --handoff   hand the agent's list to Vantro\n");
    return EXIT_REFUSED;
}

int NotTaken(const char* what)
{
    const DWORD error = GetLastError();
    if (error == AGENT_RUNS_HIGHER)
        std::fprintf(stderr, "folderlane-send: %ls; or run folderlane-send as administrator too\n",
                     AGENT_RUNS_HIGHER_TEXT);
    else
        std::fprintf(stderr, "folderlane-send: the agent did not take the %s (error %lu)\n", what, error);
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
            // In the code page, as the rest: printf's %ls would stop at the
            // first character that the name has and the code page lacks.
            static char text[2 * (LONGEST_PATH + 256)];
            WideCharToMultiByte(CP_ACP, 0, Explain(problem), -1, text, sizeof text, nullptr, nullptr);
            std::fprintf(stderr, "folderlane-send: %s; nothing was sent\n", text);
            return EXIT_REFUSED;
        }
    }

    HWND agent = FindAgent();
    if (!agent) {
        std::fprintf(stderr, "folderlane-send: no Folderlane agent is running\n");
        return EXIT_NO_AGENT;
    }

    if (handOff) {
        // Posted: the hand-off may show a message box, which must not hold us.
        return PostMessageA(agent, WM_HANDOFF, 0, 0) ? EXIT_DELIVERED : NotTaken("request");
    }
    return SendFolder(agent, path) ? EXIT_DELIVERED : NotTaken("folder");
}
