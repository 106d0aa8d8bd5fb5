// Naming one copy's agent objects, making them the user's own, and finding
// the agent of this copy. Shared by the agent and the senders: no library
// strings, no exceptions; the calls that Windows XP (the senders' oldest)
// or Vista lack are looked up.
#include "shared/Endpoint.h"
#include "platform/Handle.h"

#include <sddl.h>

#include <cstdint>

namespace {

constexpr DWORD LONGEST_PATH = 32768;

using Handle = UniqueHandle<HANDLE, CloseHandle>;
using View = UniqueHandle<const void*, UnmapViewOfFile>;
// A file's "none" (INVALID_HANDLE_VALUE) as an integer, so that it can be a
// template argument.
void CloseFile(std::intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }
using FileHandle = UniqueHandle<std::intptr_t, CloseFile, -1>;

// Windows 8 and later answer the 128-bit identity; the class is 18.
struct FileIdInfo {
    ULONGLONG volume;
    DWORD id[4];
};
constexpr int FILE_ID_INFO_CLASS = 18;
using FileInfoExFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
using FinalPathFunction = DWORD(WINAPI*)(HANDLE, WCHAR*, DWORD, DWORD);
using ImageNameFunction = BOOL(WINAPI*)(HANDLE, DWORD, WCHAR*, DWORD*);

FileHandle OpenForIdentity(const WCHAR* path) {
    return FileHandle(reinterpret_cast<std::intptr_t>(
        CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
}

// The file system's own number of the file: 128 bits where the system
// tells them (ReFS's 64-bit index is not unique), else the 64-bit index
// (FAT's may change, but it is all there is). False for an answer of 0,
// which a network redirector may give for every file.
bool FileNumber(HANDLE file, CopyIdentity& identity) {
    FileIdInfo number = {};
    const auto infoEx = LookUp<FileInfoExFunction>("kernel32", "GetFileInformationByHandleEx");
    if (!infoEx || !infoEx(file, FILE_ID_INFO_CLASS, &number, sizeof number)) {
        BY_HANDLE_FILE_INFORMATION narrow;
        if (!GetFileInformationByHandle(file, &narrow)) return false;
        number = {narrow.dwVolumeSerialNumber, {narrow.nFileIndexLow, narrow.nFileIndexHigh, 0, 0}};
    }
    if (!(number.id[0] | number.id[1] | number.id[2] | number.id[3])) return false;
    wsprintfW(identity, L"%08lX%08lX.%08lX%08lX%08lX%08lX", static_cast<DWORD>(number.volume >> 32),
              static_cast<DWORD>(number.volume), number.id[3], number.id[2], number.id[1], number.id[0]);
    return true;
}

// The hash of a path in upper case, as the file system compares it.
void PathHash(WCHAR* path, DWORD length, CopyIdentity& identity) {
    CharUpperBuffW(path, length);
    unsigned long long hash = 14695981039346656037ull;
    for (DWORD i = 0; i < length; ++i) hash = (hash ^ path[i]) * 1099511628211ull;
    wsprintfW(identity, L"P.%08lX%08lX", static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash));
}

// The folder's part of a path: up to its last backslash, which stays.
DWORD FolderLength(const WCHAR* path, DWORD length) {
    while (length > 0 && path[length - 1] != L'\\') --length;
    return length;
}

// This copy's identity, made once.
CopyIdentity ownIdentity;

const WCHAR* OwnIdentity() {
    if (!ownIdentity[0]) {
        // On the stack: a static buffer would weigh in the agent's file.
        WCHAR program[LONGEST_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, program, LONGEST_PATH);
        IdentityOfProgramFolder(program, length < LONGEST_PATH ? length : 0, ownIdentity);
    }
    return ownIdentity;
}

BOOL CALLBACK MatchThisCopysAgent(HWND window, LPARAM found) {
    // Longer than either name, so that a longer one never matches.
    char text[sizeof MAIN_WINDOW_CLASS + 1];
    // A class name is compared as its atom is, without regard to case.
    if (!GetClassNameA(window, text, sizeof text) || lstrcmpiA(text, MAIN_WINDOW_CLASS) != 0) return TRUE;
    if (!GetWindowTextA(window, text, sizeof text) || lstrcmpA(text, MAIN_WINDOW_TITLE) != 0) return TRUE;
    if (!RunsThisCopy(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

} // namespace

void IdentityOfProgramFolder(WCHAR* program, DWORD length, CopyIdentity& identity) {
    length = FolderLength(program, length);
    const WCHAR kept = program[length];
    program[length] = L'\0';
    // The folder itself; where it cannot be opened, the program's file,
    // whose final path names the folder as every spelling does.
    FileHandle opened = OpenForIdentity(program);
    if (opened && FileNumber(reinterpret_cast<HANDLE>(opened.get()), identity)) return;
    const bool programFile = !opened;
    if (programFile) {
        program[length] = kept;
        opened = OpenForIdentity(program);
    }
    const auto finalPath = LookUp<FinalPathFunction>("kernel32", "GetFinalPathNameByHandleW");
    WCHAR final[LONGEST_PATH];
    DWORD finalLength =
        opened && finalPath ? finalPath(reinterpret_cast<HANDLE>(opened.get()), final, LONGEST_PATH, 0) : 0;
    if (finalLength > 0 && finalLength < LONGEST_PATH) {
        // Without the backslash, as the folder's own final path ends.
        if (programFile && FolderLength(final, finalLength) > 0) finalLength = FolderLength(final, finalLength) - 1;
        PathHash(final, finalLength, identity);
        return;
    }
    // Nothing tells the folder but its spelling.
    program[length] = L'\0';
    PathHash(program, length, identity);
}

void* LookUpFunction(const char* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name));
}

void NameOfCopys(const WCHAR* identity, const wchar_t* kind, ObjectName& name) {
    wsprintfW(name, L"Local\\Folderlane.%s.%s", kind, identity);
}

void NameOfThisCopys(const wchar_t* kind, ObjectName& name) { NameOfCopys(OwnIdentity(), kind, name); }

bool RunsThisCopy(HWND window) {
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(window, &pid)) return false;
    // Before Vista nothing tells a process's program without reading its
    // memory; nor is there a lower integrity level to plant the section.
    const auto imageName = LookUp<ImageNameFunction>("kernel32", "QueryFullProcessImageNameW");
    if (!imageName) return true;
    constexpr DWORD PROCESS_QUERY_LIMITED = 0x1000;
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED, FALSE, pid));
    WCHAR program[LONGEST_PATH];
    DWORD length = LONGEST_PATH;
    if (!process || !imageName(process.get(), 0, program, &length)) return false;
    CopyIdentity identity;
    IdentityOfProgramFolder(program, length, identity);
    return lstrcmpW(identity, OwnIdentity()) == 0;
}

HWND PublishedAgent() {
    ObjectName name;
    NameOfThisCopys(L"AgentWindow", name);
    const Handle section(OpenFileMappingW(FILE_MAP_READ, FALSE, name));
    const View view(section ? MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)) : nullptr);
    if (view) {
        const HWND window =
            reinterpret_cast<HWND>(static_cast<UINT_PTR>(*static_cast<const volatile DWORD*>(view.get())));
        if (window && IsWindow(window) && RunsThisCopy(window)) return window;
    }
    // Missing, foreign, or pointing elsewhere: this copy's among the agents,
    // in one list of the windows taken at once. Walking on from the last one
    // found with FindWindowEx breaks when that one closes meanwhile (Wine's
    // server never comes back from it).
    HWND found = nullptr;
    EnumWindows(MatchThisCopysAgent, reinterpret_cast<LPARAM>(&found));
    return found;
}

OwnObjectAttributes::OwnObjectAttributes() {
    // The access list stays the process's default one, which lets this
    // user (or, elevated, the administrators) and the system alone in; the
    // label keeps every process below medium integrity, the sandboxes',
    // from writing. Windows XP knows no labels: there the default alone.
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;ME)", SDDL_REVISION_1, &descriptor_,
                                                         nullptr);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
}

OwnObjectAttributes::~OwnObjectAttributes() { LocalFree(descriptor_); }
