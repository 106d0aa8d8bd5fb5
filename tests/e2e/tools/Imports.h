// Where a process's program calls a function of a system library: the slot
// of its import table that the loader filled, which a test tool may point
// elsewhere to make the call answer as Windows would where Wine does not.
#pragma once

#include <windows.h>

#include <cstring>

// The slot of the process's import table through which its program calls
// the named function; 0 when it imports none of that name.
inline DWORD_PTR ImportSlot(HANDLE process, BYTE* base, const char* function)
{
    auto read = [process](const void* at, void* into, SIZE_T size) {
        return ReadProcessMemory(process, at, into, size, nullptr) != FALSE;
    };
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!read(base, &dos, sizeof dos) || !read(base + dos.e_lfanew, &nt, sizeof nt))
        return 0;
    BYTE* at = base + nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (IMAGE_IMPORT_DESCRIPTOR module; read(at, &module, sizeof module) && module.Name; at += sizeof module) {
        DWORD name = 0;
        for (DWORD i = 0; read(base + module.OriginalFirstThunk + 4 * i, &name, 4) && name; ++i) {
            char imported[64] = {};
            if (!IMAGE_SNAP_BY_ORDINAL32(name) && read(base + name + 2, imported, sizeof imported - 1) &&
                std::strcmp(imported, function) == 0)
                return reinterpret_cast<DWORD_PTR>(base + module.FirstThunk + 4 * i);
        }
    }
    return 0;
}

// Points the slot at the function at; false when the process's memory
// refused it.
inline bool Redirect(HANDLE process, DWORD_PTR slot, DWORD at)
{
    void* where = reinterpret_cast<void*>(slot);
    DWORD was = 0;
    return VirtualProtectEx(process, where, 4, PAGE_READWRITE, &was) &&
           WriteProcessMemory(process, where, &at, 4, nullptr) && VirtualProtectEx(process, where, 4, was, &was);
}
