// folderlane-send: how scripts, Explorer commands and other programs feed
// a running agent. "folderlane-send FOLDER" sends the folder to the top of
// the list; "folderlane-send --handoff" asks for the hand-off to Vantro.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr UINT WM_HANDOFF = WM_USER + 9;
constexpr size_t PATH_MAX_BYTES = 260;
constexpr UINT SEND_TIMEOUT_MS = 60000;

int Usage() {
    std::fprintf(stderr,
                 "usage: folderlane-send FOLDER      add FOLDER to the top of the agent's list and open it\n"
                 "       folderlane-send --handoff   hand the agent's list to Vantro\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') return Usage();
    const char* argument = argv[1];
    const bool handOff = std::strcmp(argument, "--handoff") == 0;
    if (!handOff && argument[0] == '-' && argument[1] == '-') return Usage();

    const size_t length = std::strlen(argument);
    if (!handOff && length > PATH_MAX_BYTES) {
        std::fprintf(stderr, "folderlane-send: the path is longer than %u bytes\n", unsigned(PATH_MAX_BYTES));
        return 2;
    }

    HWND agent = FindWindowA("NelvoFolderWindow", "NelvoFolder");
    if (!agent) {
        std::fprintf(stderr, "folderlane-send: no Folderlane agent is running\n");
        return 3;
    }

    if (handOff) {
        // Posted: the hand-off may show a message box, which must not hold us.
        if (!PostMessageA(agent, WM_HANDOFF, 0, 0)) {
            std::fprintf(stderr, "folderlane-send: the agent did not take the request (error %lu)\n",
                         GetLastError());
            return 1;
        }
        return 0;
    }

    COPYDATASTRUCT data = {};
    data.cbData = static_cast<DWORD>(length);
    data.lpData = const_cast<char*>(argument);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(agent, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &result) ||
        result != 1) {
        std::fprintf(stderr, "folderlane-send: the agent did not take the folder (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
