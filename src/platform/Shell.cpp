#include "platform/Shell.h"

#include "platform/LongPath.h"

#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>
#include <utility>
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

namespace {

using CoInitializeExFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
using CoUninitializeFunction = void(WINAPI*)();

// Set while this thread has COM initialised.
CoUninitializeFunction UninitializeCom = nullptr;

template <typename Function>
Function Procedure(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The shell may hand an open to extensions activated through COM, which wants
// the thread initialised: apartment-threaded, without OLE1 DDE. At the first
// open, not at start-up: COM's libraries stay unloaded until one is needed.
void InitializeCom() {
    static bool tried = false;
    if (tried) return;
    tried = true;
    const HMODULE com = LoadLibraryA("ole32.dll");
    const auto initialize = Procedure<CoInitializeExFunction>(com, "CoInitializeEx");
    if (initialize && SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
        UninitializeCom = Procedure<CoUninitializeFunction>(com, "CoUninitialize");
}

} // namespace

ShellUse::~ShellUse() {
    if (UninitializeCom) std::exchange(UninitializeCom, nullptr)();
}

bool ShellOpen(const char* verb, const std::string& file, const char* parameters, int show) {
    InitializeCom();
    return Succeeded(ShellExecuteA(nullptr, verb, file.c_str(), parameters, nullptr, show));
}

namespace {

// A file's name for the shell. Its look-up of the program for a file, which
// opening one makes too, works within MAX_PATH: a longer path goes as its
// short form when that fits, which names the same file (a drive that keeps
// no short names leaves it long).
class ShellName {
public:
    explicit ShellName(const std::string& file) : long_(file) {
        const wchar_t* const name = long_;
        if (std::wcslen(name) < MAX_PATH) return;
        const DWORD length = ::GetShortPathNameW(name, short_, SHORT_ROOM);
        if (length == 0 || length >= SHORT_ROOM) return;
        // \\?\C:\x as C:\x, \\?\UNC\server\x as \\server\x.
        const bool prefixed = std::wcsncmp(short_, L"\\\\?\\", 4) == 0;
        const bool unc = prefixed && std::wcsncmp(short_ + 4, L"UNC\\", 4) == 0;
        const DWORD from = unc ? 6 : prefixed ? 4 : 0;
        if (length - from >= MAX_PATH) return;
        if (unc) short_[6] = L'\\';
        shortName_ = short_ + from;
    }
    operator const wchar_t*() const { return shortName_ ? shortName_ : static_cast<const wchar_t*>(long_); }

private:
    // The prefix and a path within MAX_PATH.
    static constexpr DWORD SHORT_ROOM = MAX_PATH + 8;
    platform::LongPath long_;
    wchar_t short_[SHORT_ROOM];
    const wchar_t* shortName_ = nullptr;
};

} // namespace

bool ShellOpenFile(const std::string& file) {
    InitializeCom();
    return Succeeded(ShellExecuteW(nullptr, L"open", ShellName(file), nullptr, nullptr, SW_SHOWNORMAL));
}

bool HasAssociatedProgram(const std::string& file) {
    wchar_t program[MAX_PATH + 1];
    program[0] = L'\0';
    return Succeeded(FindExecutableW(ShellName(file), nullptr, program));
}
