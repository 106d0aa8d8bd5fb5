#include "send/Delivery.h"

#include "app/Endpoint.h"

#include <cstring>
#include <cwchar>

namespace delivery {

namespace {

constexpr UINT SEND_TIMEOUT_MS = 60000;

// The programs are single-threaded and convert one path: the buffers for the
// longest path live here rather than on the stack.
WCHAR full[LONGEST_PATH];
WCHAR shortPath[LONGEST_PATH];
WCHAR back[LONGEST_PATH];
char ansi[2 * LONGEST_PATH];

// Converts text to the ANSI code page into `ansi`; the number of bytes, or
// -1 when the conversion is not exact: converted back, it must give the same
// text (no '?' and no best-fit look-alike).
int ToAnsiExactly(const WCHAR* text, int length)
{
    if (length == 0)
        return 0;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, ansi, sizeof ansi, nullptr, nullptr);
    if (bytes <= 0)
        return -1;
    return MultiByteToWideChar(CP_ACP, 0, ansi, bytes, back, LONGEST_PATH) == length &&
                   std::memcmp(back, text, length * sizeof(WCHAR)) == 0
               ? bytes
               : -1;
}

// Replaces the name full[start, end) by its short name; the new end, or 0
// when the path has none (it does not exist).
DWORD Shorten(DWORD start, DWORD end, DWORD& length)
{
    const WCHAR kept = full[end];
    full[end] = L'\0';
    const DWORD shortLength = GetShortPathNameW(full, shortPath, LONGEST_PATH);
    full[end] = kept;
    if (shortLength == 0 || shortLength >= LONGEST_PATH)
        return 0;
    const WCHAR* name = shortPath + shortLength;
    while (name > shortPath && name[-1] != L'\\')
        --name;
    const DWORD nameLength = static_cast<DWORD>(shortPath + shortLength - name);
    if (length - (end - start) + nameLength >= LONGEST_PATH)
        return 0;
    std::memmove(full + start + nameLength, full + end, (length - end + 1) * sizeof(WCHAR));
    std::memcpy(full + start, name, nameLength * sizeof(WCHAR));
    length = length - (end - start) + nameLength;
    return start + nameLength;
}

}  // namespace

PathProblem ToAgentPath(wchar_t* argument, AgentPath& path)
{
    // "%1" around a drive's root arrives as C:" since the command line reads
    // \" as a quote; no name has a quote in it.
    const size_t given = std::wcslen(argument);
    if (given > 0 && argument[given - 1] == L'"')
        argument[given - 1] = L'\\';
    DWORD length = GetFullPathNameW(argument, LONGEST_PATH, full, nullptr);
    if (length == 0 || length >= LONGEST_PATH)
        return PathProblem::NoFullPath;

    // Name by name, so that only the names that need it are shortened and the
    // list shows the others as they are.
    for (DWORD start = 0; start <= length;) {
        DWORD end = start;
        while (end < length && full[end] != L'\\')
            ++end;
        if (ToAnsiExactly(full + start, static_cast<int>(end - start)) < 0 &&
            (end = Shorten(start, end, length)) == 0)
            return PathProblem::NoAnsiName;
        start = end + 1;
    }
    const int bytes = ToAnsiExactly(full, static_cast<int>(length));
    if (bytes < 0)
        return PathProblem::NoAnsiName;
    if (bytes > PATH_MAX_BYTES)
        return PathProblem::TooLong;
    std::memcpy(path, ansi, bytes);
    path[bytes] = '\0';
    return PathProblem::None;
}

const wchar_t* Explain(PathProblem problem)
{
    switch (problem) {
    case PathProblem::NoFullPath:
        return L"the path is not valid";
    case PathProblem::NoAnsiName:
        return L"the folder's name has characters that the system's code page lacks, and it has no "
               L"short name to use instead; rename the folder";
    case PathProblem::TooLong:
        return L"the path is longer than 260 bytes";
    case PathProblem::None:
        break;
    }
    return L"";
}

HWND FindAgent()
{
    return FindWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE);
}

bool SendFolder(HWND agent, const char* path)
{
    COPYDATASTRUCT data = {};
    data.cbData = static_cast<DWORD>(std::strlen(path));
    data.lpData = const_cast<char*>(path);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(agent, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &result))
        return false;
    SetLastError(ERROR_SUCCESS);
    return result == 1;
}

}  // namespace delivery
