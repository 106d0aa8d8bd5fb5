// Stands in for every program the shell would start on the agent's behalf
// (folder views, text and .vtr files, web pages, explorer.exe): writes down
// how it was started and exits at once, so tests can see what was opened.
//
// Appends one line "<kind>\t<arguments>\t<show>" to <dir>\record.log, where <dir> is
// %E2E_RECORD_DIR% (default C:\e2e-record) and <kind> comes from a leading
// "/kind:NAME" argument, else from the program's own file name, and <show>
// is the window's show command the starter gave (-1: none). A .vtr file
// it is given is also copied, bytes unchanged, to <dir>\handoff-<N>.vtr,
// N being the number of that log line; the agent rewrites its file at every
// hand-off, so the copy is the only trace of what each hand-off held. The
// kind "slow" stays 4 s after writing its line.
#include <windows.h>

#include <string>

namespace {

std::string RecordDirectory()
{
    char buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("E2E_RECORD_DIR", buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return "C:\\e2e-record";
    return buffer;
}

// The command line after the program's own name, as the shell built it.
std::string ArgumentsOf(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p)
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

std::string OwnBaseName()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name = path;
    name = name.substr(name.find_last_of("\\/:") + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    CharLowerA(&name[0]);
    return name;
}

std::string Unquoted(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

bool EndsWithVtr(const std::string& path)
{
    return path.size() >= 4 && lstrcmpiA(path.c_str() + path.size() - 4, ".vtr") == 0;
}

// Appends under an exclusive open, retrying while another recorder holds it.
int AppendLine(const std::string& log, const std::string& line)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileA(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Sleep(25);
            continue;
        }
        // The line number is one more than the lines already there.
        int lines = 1;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
            for (DWORD i = 0; i < got; ++i)
                lines += buffer[i] == '\n';
        SetFilePointer(file, 0, nullptr, FILE_END);
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
        return lines;
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::string directory = RecordDirectory();
    CreateDirectoryA(directory.c_str(), nullptr);

    std::string arguments = ArgumentsOf(GetCommandLineA());
    std::string kind;
    if (arguments.compare(0, 6, "/kind:") == 0) {
        const auto end = arguments.find(' ');
        kind = arguments.substr(6, end == std::string::npos ? std::string::npos : end - 6);
        arguments = end == std::string::npos ? "" : ArgumentsOf(("x " + arguments.substr(end)).c_str());
    } else {
        kind = OwnBaseName();
    }

    // How the starter asked the window to show: 5 (SW_SHOW) for a folder the
    // agent received, 1 (SW_SHOWNORMAL) for one chosen in its menu.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
    // The copy is whole before its record shows and takes its name at once
    // after: a test that has seen the line never reads half a copy.
    const std::string file = Unquoted(arguments);
    const std::string part = directory + "\\handoff-" + std::to_string(GetCurrentProcessId()) + ".part";
    const bool copied = EndsWithVtr(file) && CopyFileA(file.c_str(), part.c_str(), FALSE);
    const int number = AppendLine(directory + "\\record.log",
                                  kind + "\t" + arguments + "\t" + std::to_string(show) + "\r\n");
    if (copied && !(number > 0 && MoveFileExA(part.c_str(), (directory + "\\handoff-" + std::to_string(number) + ".vtr").c_str(),
                                                MOVEFILE_REPLACE_EXISTING)))
        DeleteFileA(part.c_str());
    // A program the shell waits for (it opens its file through DDE, and waits
    // until the program is ready or gone): an open that takes seconds.
    if (kind == "slow")
        Sleep(4000);
    return 0;
}
