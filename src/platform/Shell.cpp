#include "platform/Shell.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

std::string GetSpecialFolder(int csidl) {
    char path[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE)) return std::string();
    return path;
}

std::string GetFileVersionString(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return std::string();
    std::vector<char> block(size, 0);
    GetFileVersionInfoA(path.c_str(), 0, size, block.data());
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\FileVersion",
                        reinterpret_cast<void**>(&value), &length) || !value)
        return std::string();
    // The value is zero-terminated within its reported length.
    return std::string(value, strnlen(value, length));
}

static bool Succeeded(HINSTANCE result) {
    return reinterpret_cast<UINT_PTR>(result) > 32;
}

bool ShellOpen(const char* verb, const std::string& file, const char* parameters, int show) {
    return Succeeded(ShellExecuteA(nullptr, verb, file.c_str(), parameters, nullptr, show));
}

bool HasAssociatedProgram(const std::string& file) {
    char program[MAX_PATH + 1];
    program[0] = '\0';
    return Succeeded(FindExecutableA(file.c_str(), nullptr, program));
}
