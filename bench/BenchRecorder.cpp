// Stands in for Vantro in the benchmark: the shell starts it on the hand-off
// file. The first thing it does is note the moment it runs, so the driver
// can time the hand-off from the request to the file being opened.
//
// Writes "<QueryPerformanceCounter> <process id>" to %BENCH_OPENED_FILE%,
// then sets the event %BENCH_OPENED_EVENT%, and exits.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char fileName[MAX_PATH] = {};
    char eventName[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("BENCH_OPENED_FILE", fileName, sizeof fileName) ||
        !GetEnvironmentVariableA("BENCH_OPENED_EVENT", eventName, sizeof eventName))
        return 2;

    char line[64];
    const int length = std::snprintf(line, sizeof line, "%lld %lu\r\n", static_cast<long long>(now.QuadPart),
                                     static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);

    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
    if (!event) return 1;
    SetEvent(event);
    CloseHandle(event);
    return 0;
}
