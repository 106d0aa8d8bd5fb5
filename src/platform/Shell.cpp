#include "platform/Shell.h"

#include "platform/LongPath.h"

#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#include <shlobj.h>

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

bool ShellOpenFile(const std::string& file) {
    InitializeCom();
    return Succeeded(ShellExecuteW(nullptr, L"open", platform::LongPath(file), nullptr, nullptr, SW_SHOWNORMAL));
}

bool HasAssociatedProgram(const std::string& file) {
    wchar_t program[MAX_PATH + 1];
    program[0] = L'\0';
    return Succeeded(FindExecutableW(platform::LongPath(file), nullptr, program));
}
