// Loaded into a running agent by the stress tool: the tray then tells where
// the agent's icon is, as Windows 7 and later do and Wine's tray never does,
// through the agent's own look-up of the call.
#include <windows.h>

#include "Imports.h"

#include <cstring>

namespace {

// Where the tray says the icon is: away from the tray and the pointer.
constexpr RECT ICON = {300, 200, 316, 216};

HRESULT WINAPI IconRect(const void*, RECT* icon)
{
    *icon = ICON;
    return S_OK;
}

FARPROC WINAPI LookUp(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) && std::strcmp(name, "Shell_NotifyIconGetRect") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(IconRect));
    return GetProcAddress(module, name);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    const DWORD_PTR slot =
        ImportSlot(GetCurrentProcess(), reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr)), "GetProcAddress");
    return slot && Redirect(GetCurrentProcess(), slot, reinterpret_cast<DWORD>(reinterpret_cast<void*>(LookUp)));
}
