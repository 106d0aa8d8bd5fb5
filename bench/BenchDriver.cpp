// Times a tray agent and the baseline tray program from the outside, inside
// the same Windows (Wine) world, so that the system's own costs (process
// start, window creation, the tray, the shell) count alike for both.
//
//   BenchDriver ROUNDS STARTS MENUS HANDOFFS AGENT_EXE BASELINE_EXE BASELINE_ARGS
//
// Each round starts and closes the two programs STARTS times, alternating,
// then starts both (which one first alternates from round to round), lets
// them run side by side and alternates their menus and hand-offs one by one:
//   start-up   process creation to its window found and its icon in the tray
//              (Shell_NotifyIconA NIM_MODIFY with uFlags 0 succeeds only for
//              an icon the tray holds), the round's median;
//   first menu the first menu of each start, after a settle, the round's
//              median;
//   ..._each   every start's (and every hand-off's) figure, for ratios
//              pair by pair;
//   memory     working set and committed private memory after start and
//              after MENUS displays;
//   menu       WM_TRAYNOTIFY(102, WM_RBUTTONDOWN) posted to a visible pop-up
//              menu (class "#32768") of that process; Escape closes it;
//   hand-off   WM_HANDOFF posted to the recorder (the program associated
//              with .vtr) noting the moment it runs.
// Output, one sample a line: "<metric> <program> <round> <value>" (round 0
// is a warm-up); lines starting with "check" report what was verified,
// "error" what went wrong.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>

#include "KeeperIcon.h"
#include "PopupMenu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_TRAYNOTIFY = WM_USER + 8;
constexpr UINT WM_HANDOFF = WM_USER + 9;
constexpr UINT TRAY_ICON_ID = 102;
constexpr DWORD TIMEOUT_MS = 20000;
constexpr DWORD SETTLE_MS = 300;
// After a close, before the next start.
constexpr DWORD ENDED_MS = 150;
constexpr char OPENED_EVENT[] = "FolderlaneBenchOpened";

LARGE_INTEGER Frequency;

double Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / Frequency.QuadPart;
}

double Milliseconds(long long counter) { return counter * 1000.0 / Frequency.QuadPart; }

[[noreturn]] void Fail(const std::string& what) {
    std::printf("error %s (last error %lu)\n", what.c_str(), GetLastError());
    std::fflush(stdout);
    std::exit(1);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Program {
    const char* name;
    std::string exe;
    std::string arguments;
    const char* windowClass;
    const char* windowTitle;
};

// The driver's own window holds a tray icon; whatever the tray sends it is
// answered while the driver waits.
void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// Sleeps up to a millisecond, answering messages meanwhile.
void Nap() {
    Pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
}

bool WaitForHandle(HANDLE handle, DWORD timeoutMs = TIMEOUT_MS) {
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed > timeoutMs) return false;
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
    }
}

// Polls with short sleeps: a busy poll would take a core from the program
// being timed.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = TIMEOUT_MS) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Nap();
    }
    return true;
}

void SleepPumping(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) Nap();
}

// An icon of the driver's own keeps the tray up for the whole run.
void KeepTrayUp() {
    if (!AddKeeperIcon("BenchDriverKeeper", 60000)) Fail("no tray");
}

bool IconInTray(HWND window) {
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    data.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// Returns once the window's thread has come back to reading messages.
void Sync(HWND window) {
    DWORD_PTR ignored;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, TIMEOUT_MS, &ignored);
}

struct Memory {
    double workingSetKB;
    double privateKB;
};

// Committed private memory, as Windows counts a process's private bytes.
// Wine leaves PrivateUsage at 0 for other processes, so the regions are
// summed here.
double PrivateCommittedKB(HANDLE process) {
    double bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQueryEx(process, address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
        if (region.RegionSize == 0) break;
    }
    return bytes / 1024.0;
}

Memory MemoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) Fail("GetProcessMemoryInfo");
    return {counters.WorkingSetSize / 1024.0, PrivateCommittedKB(process)};
}

std::string ReadWholeFile(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return content;
}

struct Settings {
    int rounds;
    int starts;
    int menus;
    int handoffs;
    std::string openedFile;
    std::string handoffFile;
    HANDLE openedEvent;
};

// One started program.
struct Running {
    const Program* program;
    PROCESS_INFORMATION process;
    HWND window;
    double startup;       // to the icon in the tray
    double startupWindow; // to the window alone
    std::vector<double> menuTimes;
    std::vector<double> handoffTimes;
};

// The hand-off files of the first round, to compare the two programs' bytes.
std::string FirstHandoff[2];

// With check, also shows that the tray answers for this icon only.
Running Start(const Program& program, bool check) {
    Running running = {&program, {}, nullptr, 0, 0, {}, {}};
    std::string commandLine = "\"" + program.exe + "\"";
    if (!program.arguments.empty()) commandLine += " " + program.arguments;
    const std::string folder = program.exe.substr(0, program.exe.find_last_of('\\'));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;

    const double start = Now();
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &running.process))
        Fail(std::string("CreateProcess ") + program.exe);
    HWND& window = running.window;
    if (!WaitUntil([&] { return (window = FindWindowA(program.windowClass, program.windowTitle)) != nullptr; }))
        Fail(std::string("no window of ") + program.name);
    const double windowFound = Now();
    if (!WaitUntil([&] { return IconInTray(window); })) Fail(std::string("no icon of ") + program.name);
    running.startup = Now() - start;
    running.startupWindow = windowFound - start;
    if (check) {
        NOTIFYICONDATAA other = {};
        other.cbSize = NOTIFYICONDATAA_V1_SIZE;
        other.hWnd = window;
        other.uID = TRAY_ICON_ID + 1;
        std::printf("check icon-signal %s %s\n", program.name,
                    Shell_NotifyIconA(NIM_MODIFY, &other) ? "wrong-id-also-true" : "ok");
    }
    return running;
}

void ReportMemory(const Running& running, const char* when, int round) {
    const Memory memory = MemoryOf(running.process.hProcess);
    std::printf("ws_%s %s %d %.0f\n", when, running.program->name, round, memory.workingSetKB);
    std::printf("private_%s %s %d %.0f\n", when, running.program->name, round, memory.privateKB);
}

double ShowMenu(const Running& running) {
    const char* name = running.program->name;
    const double pressed = Now();
    PostMessageA(running.window, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    if (!WaitUntil([&] { return (menu = VisibleMenuOf(running.process.dwProcessId)) != nullptr; }))
        Fail(std::string("no menu of ") + name);
    const double shown = Now();
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    if (!WaitUntil([&] { return VisibleMenuOf(running.process.dwProcessId) == nullptr; }))
        Fail(std::string("menu of ") + name + " does not close");
    Sync(running.window);
    return shown - pressed;
}

double HandOff(const Running& running, const Settings& settings) {
    ResetEvent(settings.openedEvent);
    DeleteFileA(settings.openedFile.c_str());
    const double requested = Now();
    PostMessageA(running.window, WM_HANDOFF, 0, 0);
    if (!WaitForHandle(settings.openedEvent))
        Fail(std::string("hand-off of ") + running.program->name + " opened nothing");
    long long opened = 0;
    unsigned long recorder = 0;
    if (std::sscanf(ReadWholeFile(settings.openedFile).c_str(), "%lld %lu", &opened, &recorder) != 2)
        Fail("unreadable recorder note");
    const double latency = Milliseconds(opened) - requested;
    if (latency <= 0) Fail("the recorder's clock is not the driver's");
    // The recorder's exit and the shell call's return are not timed but
    // must not overlap the next request.
    if (HANDLE done = OpenProcess(SYNCHRONIZE, FALSE, recorder)) {
        WaitForHandle(done);
        CloseHandle(done);
    }
    Sync(running.window);
    return latency;
}

// With check, also shows that the icon left the tray.
void Close(Running& running, bool check) {
    const char* name = running.program->name;
    PostMessageA(running.window, WM_CLOSE, 0, 0);
    if (!WaitForHandle(running.process.hProcess)) {
        std::printf("error %s did not end on WM_CLOSE\n", name);
        TerminateProcess(running.process.hProcess, 1);
        WaitForSingleObject(running.process.hProcess, TIMEOUT_MS);
    }
    if (check) std::printf("check icon-gone %s %s\n", name, IconInTray(running.window) ? "no" : "ok");
    CloseHandle(running.process.hThread);
    CloseHandle(running.process.hProcess);
}

// Every sample of a round, in the order taken: the n-th of one program was
// taken right beside the n-th of the other.
void PrintEach(const char* metric, const char* program, int round, const std::vector<double>& samples) {
    for (double sample : samples) std::printf("%s %s %d %.3f\n", metric, program, round, sample);
}

// Both programs run side by side through a round, and their menus and
// hand-offs alternate one by one, so that both meet the machine's load alike.
// Which one goes first alternates from round to round.
void RunRound(const Program (&programs)[2], int round, const Settings& settings) {
    const int order[2] = {round % 2 ? 0 : 1, round % 2 ? 1 : 0};
    // Start-up and the first menu alone first: a program started, settled,
    // shown its menu once and closed again, several times, for a median that
    // one start could not give.
    std::vector<double> startups[2], startupWindows[2], firstMenus[2];
    for (int i = 0; i < settings.starts; ++i)
        for (int index : order) {
            Running running = Start(programs[index], false);
            startups[index].push_back(running.startup);
            startupWindows[index].push_back(running.startupWindow);
            SleepPumping(SETTLE_MS);
            firstMenus[index].push_back(ShowMenu(running));
            Close(running, false);
            // The tray and Wine go on tidying after a process ends: the
            // next start must not meet that work.
            SleepPumping(ENDED_MS);
        }

    Running running[2];
    for (int index : order) {
        running[index] = Start(programs[index], round == 1);
        startups[index].push_back(running[index].startup);
        startupWindows[index].push_back(running[index].startupWindow);
    }
    for (int index : order) {
        std::printf("startup_window %s %d %.3f\n", programs[index].name, round, Median(startupWindows[index]));
        std::printf("startup %s %d %.3f\n", programs[index].name, round, Median(startups[index]));
        PrintEach("startup_window_each", programs[index].name, round, startupWindows[index]);
        PrintEach("startup_each", programs[index].name, round, startups[index]);
    }

    SleepPumping(SETTLE_MS);
    for (int index : order) ReportMemory(running[index], "start", round);

    for (int i = 0; i < settings.menus; ++i)
        for (int index : order) {
            const double latency = ShowMenu(running[index]);
            (i == 0 ? firstMenus[index] : running[index].menuTimes).push_back(latency);
        }
    for (int index : order) {
        std::printf("menu_first %s %d %.3f\n", programs[index].name, round, Median(firstMenus[index]));
        PrintEach("menu_first_each", programs[index].name, round, firstMenus[index]);
    }
    SleepPumping(SETTLE_MS);
    for (int index : order) ReportMemory(running[index], "menus", round);

    for (int i = 0; i < settings.handoffs; ++i)
        for (int index : order) {
            running[index].handoffTimes.push_back(HandOff(running[index], settings));
            if (round == 1 && i == 0) FirstHandoff[index] = ReadWholeFile(settings.handoffFile);
        }

    for (int index : order) {
        const Running& r = running[index];
        if (!r.menuTimes.empty()) std::printf("menu %s %d %.3f\n", r.program->name, round, Median(r.menuTimes));
        if (!r.handoffTimes.empty())
            std::printf("handoff %s %d %.3f\n", r.program->name, round, Median(r.handoffTimes));
        PrintEach("handoff_each", r.program->name, round, r.handoffTimes);
    }
    for (int index : order) Close(running[index], round == 1);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: BenchDriver ROUNDS STARTS MENUS HANDOFFS AGENT_EXE BASELINE_EXE BASELINE_ARGS\n");
        return 2;
    }
    QueryPerformanceFrequency(&Frequency);
    Settings settings;
    settings.rounds = std::atoi(argv[1]);
    settings.starts = std::atoi(argv[2]);
    settings.menus = std::atoi(argv[3]);
    settings.handoffs = std::atoi(argv[4]);
    const Program programs[2] = {
        {"agent", argv[5], "", "NelvoFolderWindow", "NelvoFolder"},
        {"baseline", argv[6], argv[7], "BaselineTrayWindow", "BaselineTray"},
    };

    char documents[MAX_PATH + 1] = {};
    SHGetSpecialFolderPathA(nullptr, documents, CSIDL_PERSONAL, FALSE);
    settings.handoffFile = std::string(documents) + "\\TmpTmpTmp.vtr";
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    settings.openedFile = std::string(temp) + "bench-opened.txt";
    SetEnvironmentVariableA("BENCH_OPENED_FILE", settings.openedFile.c_str());
    SetEnvironmentVariableA("BENCH_OPENED_EVENT", OPENED_EVENT);
    settings.openedEvent = CreateEventA(nullptr, TRUE, FALSE, OPENED_EVENT);
    if (!settings.openedEvent) Fail("CreateEvent");

    KeepTrayUp();
    // Menus open at the cursor: the same place, well inside the screen.
    SetCursorPos(700, 150);

    // Round 0 warms the file cache and the shell's look-ups; it is reported
    // but not counted.
    Settings warmUp = settings;
    warmUp.starts = std::min(settings.starts, 1);
    warmUp.menus = std::min(settings.menus, 5);
    warmUp.handoffs = std::min(settings.handoffs, 1);
    RunRound(programs, 0, warmUp);
    for (int round = 1; round <= settings.rounds; ++round) RunRound(programs, round, settings);

    if (settings.handoffs > 0)
        std::printf("check handoff-bytes %s (%u and %u bytes)\n",
                    FirstHandoff[0] == FirstHandoff[1] && !FirstHandoff[0].empty() ? "same" : "DIFFERENT",
                    static_cast<unsigned>(FirstHandoff[0].size()), static_cast<unsigned>(FirstHandoff[1].size()));
    return 0;
}
