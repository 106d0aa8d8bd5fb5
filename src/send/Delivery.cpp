#include "send/Delivery.h"

#include <cstring>
#include <cwchar>

namespace delivery {

namespace {

constexpr UINT SEND_TIMEOUT_MS = 60000;

// The programs are single-threaded and convert one path: the buffers for the
// longest path live here rather than on the stack.
WCHAR full[LONGEST_PATH];
WCHAR prefixed[LONGEST_PATH + 8];
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

// The name in the code page's lack, for Explain; the error of a failed look-up.
const WCHAR* lackingName;
DWORD lackingLength;
DWORD lookupError;
WCHAR explanation[LONGEST_PATH + 256];

bool IsNotFound(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_DRIVE;
}

PathProblem LookupProblem()
{
    lookupError = GetLastError();
    return IsNotFound(lookupError) ? PathProblem::NotFound : PathProblem::Unreadable;
}

DWORD NameEnd(DWORD start, DWORD length)
{
    while (start < length && full[start] != L'\\')
        ++start;
    return start;
}

// GetShortPathNameW takes a path of MAX_PATH or more only in the \\?\ form;
// only the last name of its answer is used, so the prefix goes with it.
DWORD ShortPathOf(const WCHAR* path)
{
    if (lstrlenW(path) < MAX_PATH)
        return GetShortPathNameW(path, shortPath, LONGEST_PATH);
    const bool unc = path[0] == L'\\' && path[1] == L'\\';
    lstrcpyW(prefixed, unc ? L"\\\\?\\UNC" : L"\\\\?\\");
    lstrcatW(prefixed, unc ? path + 1 : path);
    return GetShortPathNameW(prefixed, shortPath, LONGEST_PATH);
}

// Replaces the name full[start, end) by its short name, which is the name
// itself where the drive keeps none; moves end and length with it.
PathProblem Shorten(DWORD start, DWORD& end, DWORD& length)
{
    const WCHAR kept = full[end];
    full[end] = L'\0';
    const DWORD shortLength = ShortPathOf(full);
    full[end] = kept;
    if (shortLength == 0)
        return LookupProblem();
    if (shortLength >= LONGEST_PATH)
        return PathProblem::NoFullPath;
    const WCHAR* name = shortPath + shortLength;
    while (name > shortPath && name[-1] != L'\\')
        --name;
    const DWORD nameLength = static_cast<DWORD>(shortPath + shortLength - name);
    if (length - (end - start) + nameLength >= LONGEST_PATH)
        return PathProblem::NoFullPath;
    std::memmove(full + start + nameLength, full + end, (length - end + 1) * sizeof(WCHAR));
    std::memcpy(full + start, name, nameLength * sizeof(WCHAR));
    length = length - (end - start) + nameLength;
    end = start + nameLength;
    return PathProblem::None;
}

// \\?\C:\x and \\?\UNC\server\share\x as C:\x and \\server\share\x: the
// agent and the shell know only these, and a folder sent in both forms
// would be listed twice.
DWORD WithoutLongPrefix(DWORD length)
{
    if (length < 6 || std::wcsncmp(full, L"\\\\?\\", 4) != 0)
        return length;
    if (length >= 7 && full[5] == L':' && full[6] == L'\\') {
        std::memmove(full, full + 4, (length - 4 + 1) * sizeof(WCHAR));
        return length - 4;
    }
    if (length > 8 && _wcsnicmp(full + 4, L"UNC\\", 4) == 0) {
        std::memmove(full + 2, full + 8, (length - 8 + 1) * sizeof(WCHAR));
        return length - 6;
    }
    return length;
}

// Where the names that may be shortened begin: after C:\ or \\server\share\.
DWORD RootEnd(DWORD length)
{
    if (length >= 3 && full[1] == L':')
        return 3;
    DWORD end = 0;
    for (int separators = 0; end < length && separators < 4; ++end)
        separators += full[end] == L'\\';
    return end;
}

}  // namespace

PathProblem ToAgentPath(wchar_t* argument, AgentPath& path)
{
    lackingName = nullptr;
    // "%1" around a drive's root arrives as C:" since the command line reads
    // \" as a quote; no name has a quote in it.
    const size_t given = std::wcslen(argument);
    if (given > 0 && argument[given - 1] == L'"')
        argument[given - 1] = L'\\';
    DWORD length = GetFullPathNameW(argument, LONGEST_PATH, full, nullptr);
    if (length == 0 || length >= LONGEST_PATH)
        return PathProblem::NoFullPath;
    length = WithoutLongPrefix(length);
    // One entry per folder: C:\x\ is C:\x; C:\ stays a root.
    if (length > 1 && full[length - 1] == L'\\' && !(length == 3 && full[1] == L':'))
        full[--length] = L'\0';

    // Name by name, so that only the names that need it are shortened and the
    // list shows the others as they are.
    for (DWORD start = 0; start <= length;) {
        DWORD end = NameEnd(start, length);
        if (ToAnsiExactly(full + start, static_cast<int>(end - start)) < 0) {
            PathProblem problem = Shorten(start, end, length);
            if (problem == PathProblem::None && ToAnsiExactly(full + start, static_cast<int>(end - start)) < 0)
                problem = PathProblem::NoShortNames;
            if (problem != PathProblem::None) {
                lackingName = full + start;
                lackingLength = end - start;
                return problem;
            }
        }
        start = end + 1;
    }
    // Double-byte names take two bytes a character: where the path is too
    // long, names take their short names from the outermost on, so that the
    // folder's own name stays readable as long as it can.
    int bytes = ToAnsiExactly(full, static_cast<int>(length));
    for (DWORD start = RootEnd(length); bytes > PATH_MAX_BYTES && start < length;) {
        DWORD end = NameEnd(start, length);
        if (Shorten(start, end, length) != PathProblem::None)
            break;
        bytes = ToAnsiExactly(full, static_cast<int>(length));
        start = end + 1;
    }
    if (bytes < 0)
        return PathProblem::NoFullPath;
    if (bytes > PATH_MAX_BYTES)
        return PathProblem::TooLong;
    std::memcpy(path, ansi, bytes);
    path[bytes] = '\0';
    return PathProblem::None;
}

PathProblem FolderProblem(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LookupProblem();
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathProblem::None : PathProblem::NotFound;
}

const wchar_t* Explain(PathProblem problem)
{
    explanation[0] = L'\0';
    if (lackingName && problem != PathProblem::None) {
        lstrcpyW(explanation, L"the name \"");
        lstrcpynW(explanation + lstrlenW(explanation), lackingName, static_cast<int>(lackingLength + 1));
        lstrcatW(explanation, L"\" has characters that the system's code page lacks, and ");
    }
    WCHAR* cause = explanation + lstrlenW(explanation);
    switch (problem) {
    case PathProblem::NoFullPath:
        lstrcpyW(cause, L"the path is not valid");
        break;
    case PathProblem::NoShortNames:
        lstrcpyW(cause, L"the drive keeps no short names to use instead; rename it");
        break;
    case PathProblem::NotFound:
        lstrcpyW(cause, L"the folder does not exist");
        break;
    case PathProblem::Unreadable:
        wsprintfW(cause, L"the folder cannot be read (error %lu)", lookupError);
        break;
    case PathProblem::TooLong:
        lstrcpyW(cause, L"the path is longer than 259 bytes");
        break;
    case PathProblem::None:
        break;
    }
    return explanation;
}

const wchar_t* Join(std::initializer_list<const wchar_t*> parts)
{
    static WCHAR joined[LONGEST_PATH + 1024];
    joined[0] = L'\0';
    int used = 0;
    for (const wchar_t* part : parts) {
        lstrcpynW(joined + used, part, static_cast<int>(LONGEST_PATH + 1024 - used));
        used += lstrlenW(joined + used);
    }
    return joined;
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
