// Naming one copy's agent objects, and reading the window the agent published.
// Shared by the agent and the senders: no library strings, no exceptions.
#include "app/Endpoint.h"
#include "platform/Handle.h"

#include <cstdint>

namespace {

constexpr DWORD LONGEST_PATH = 32768;

using Handle = UniqueHandle<HANDLE, CloseHandle>;
using View = UniqueHandle<const void*, UnmapViewOfFile>;
// A file's "none" (INVALID_HANDLE_VALUE) as an integer, so that it can be a
// template argument.
void CloseFile(std::intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }
using FileHandle = UniqueHandle<std::intptr_t, CloseFile, -1>;

// The folder's identity: volume serial number and file index, which every
// path to it shares. Where the folder cannot be opened, the hash of its path
// as spelt, in upper case, as the file system compares it.
void IdentityOfThisCopy(WCHAR (&identity)[32]) {
    // On the stack: a static buffer would weigh in the agent's file.
    WCHAR folder[LONGEST_PATH];
    DWORD length = GetModuleFileNameW(nullptr, folder, LONGEST_PATH);
    if (length >= LONGEST_PATH) length = 0;
    while (length > 0 && folder[length - 1] != L'\\') --length;
    folder[length] = L'\0';
    const FileHandle opened(reinterpret_cast<std::intptr_t>(
        CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    BY_HANDLE_FILE_INFORMATION file;
    if (opened && GetFileInformationByHandle(reinterpret_cast<HANDLE>(opened.get()), &file)) {
        wsprintfW(identity, L"%08lX.%08lX%08lX", file.dwVolumeSerialNumber, file.nFileIndexHigh,
                  file.nFileIndexLow);
        return;
    }
    CharUpperBuffW(folder, length);
    unsigned long long hash = 14695981039346656037ull;
    for (DWORD i = 0; i < length; ++i) hash = (hash ^ folder[i]) * 1099511628211ull;
    wsprintfW(identity, L"P.%08lX%08lX", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash));
}

} // namespace

void NameOfThisCopys(const wchar_t* kind, ObjectName& name) {
    static WCHAR identity[32];
    if (!identity[0]) IdentityOfThisCopy(identity);
    wsprintfW(name, L"Local\\Folderlane.%s.%s", kind, identity);
}

HWND PublishedAgent() {
    ObjectName name;
    NameOfThisCopys(L"AgentWindow", name);
    const Handle section(OpenFileMappingW(FILE_MAP_READ, FALSE, name));
    const View view(section ? MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)) : nullptr);
    if (!view) return nullptr;
    const HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*static_cast<const volatile DWORD*>(view.get())));
    return window && IsWindow(window) ? window : nullptr;
}
