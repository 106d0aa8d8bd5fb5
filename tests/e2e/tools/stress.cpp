// The reliability tests' helpers inside the Wine world: a message storm
// sender, a dismisser of the agent's boxes, dialogs and menus, a reader of a
// process's handle and object counts, and a stand-in for a taskbar that is
// not ready yet, and calls of the agent that fail as Windows may fail them.
//
// Usage: stress <command> [arguments]; numbers may be decimal or 0x-hex.
//   storm WINDOW SEED SECONDS [FOLDER]...
//   dismiss PID STOPFILE
//   usage PID
//   cycle WINDOW PID MENUS HANDOFFS
//   blocker STOPFILE
//   refuse PID FUNCTION ARGUMENT_BYTES EVERY [MESSAGE]
//   inject PID LIBRARY
//   second WINDOW PROGRAM
// Exit code 0 on success, 1 when something went wrong (said on stderr),
// 2 on a usage error.
#include <windows.h>
#include <winternl.h>
#include <tlhelp32.h>

#include "Commands.h"
#include "Imports.h"
#include "PopupMenu.h"
#include "WindowText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr UINT WM_TRAYNOTIFY = WM_USER + 8;
constexpr UINT WM_HANDOFF = WM_USER + 9;
constexpr WPARAM TRAY_ICON_ID = 102;
constexpr WPARAM IDM_EXIT = 1;
// A sent message that takes longer than this means the agent hangs.
constexpr UINT SEND_TIMEOUT_MS = 30000;

[[noreturn]] void Usage(const char* what)
{
    std::fprintf(stderr, "stress: usage: %s\n", what);
    std::exit(EXIT_USAGE);
}

unsigned long long Number(const char* text)
{
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 0);
    if (end == text || *end != '\0')
        Usage("not a number");
    return static_cast<unsigned long long>(value);
}

bool FileExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// -- storm -------------------------------------------------------------------

struct StormCounts {
    unsigned long copydata = 0, copydataBad = 0, folders = 0, foldersBad = 0;
    unsigned long handoffSent = 0, handoffSentBad = 0, handoffPosted = 0;
    unsigned long commandSent = 0, commandPosted = 0, commandZeroLParam = 0;
    unsigned long trayPosted = 0, rightPresses = 0;
    unsigned long postFailed = 0, sendFailed = 0;
};

// When the storm began: a missing answer says how far into it it was.
DWORD StormStart = 0;

bool SendChecked(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result,
                 StormCounts& counts)
{
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS, &result))
        return true;
    ++counts.sendFailed;
    std::fprintf(stderr, "stress: message %u (wParam %lu) not answered (error %lu) after %lu ms of storm\n", message,
                 static_cast<unsigned long>(wParam), static_cast<unsigned long>(GetLastError()),
                 static_cast<unsigned long>(GetTickCount() - StormStart));
    return false;
}

void PostCounted(HWND window, UINT message, WPARAM wParam, LPARAM lParam, StormCounts& counts)
{
    if (!PostMessageA(window, message, wParam, lParam))
        ++counts.postFailed;
    // Lets the agent keep up, so that the queue never fills.
    Sleep(1);
}

struct StormDismisser;
DWORD WINAPI DismissWhileStorming(LPVOID param);
StormDismisser* StartDismisser(HWND window);
void StopDismisser(StormDismisser* dismisser);

// storm WINDOW SEED SECONDS [FOLDER]...: sends the window random messages
// of the kinds other processes and the tray send, for the given time;
// FOLDERs are existing folders mixed into the random payloads. Prints the
// counts as "name=value" lines, with folderN_taken the sends of the Nth
// FOLDER answered 1; fails when an answer was wrong or missing.
int Storm(int argc, char** argv)
{
    if (argc < 3)
        Usage("storm WINDOW SEED SECONDS [FOLDER]...");
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(argv[0])));
    std::mt19937 random(static_cast<unsigned>(Number(argv[1])));
    const DWORD seconds = static_cast<DWORD>(Number(argv[2]));
    const std::vector<std::string> folders(argv + 3, argv + argc);
    auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };

    char mix[16] = "";
    const bool menus = GetEnvironmentVariableA("E2E_STORM_MIX", mix, sizeof mix) && std::strcmp(mix, "menus") == 0;
    StormCounts counts;
    // Per folder, the sends answered 1: each is to be opened once.
    std::vector<unsigned long> taken(folders.size());
    StormDismisser* dismisser = StartDismisser(window);
    const DWORD start = GetTickCount();
    StormStart = start;
    while (GetTickCount() - start < seconds * 1000 && IsWindow(window)) {
        // With E2E_STORM_MIX=menus every other message is a right press on
        // the icon: menus open over the boxes and dialogs the rest open.
        const unsigned pick = menus && below(2) == 0 ? 99 : below(100);
        DWORD_PTR result = 0;
        if (pick < 45) {
            // A folder, which the shell opens while boxes and menus come and
            // go, or 0 to 400 random bytes. Line breaks are left out so that
            // the hand-off files can be checked line by line.
            std::string payload;
            const bool folder = !folders.empty() && below(2) == 0;
            const unsigned which = folder ? below(static_cast<unsigned>(folders.size())) : 0;
            if (folder) {
                payload = folders[which];
            } else {
                payload.resize(below(401));
                for (char& byte : payload) {
                    do byte = static_cast<char>(random());
                    while (byte == '\r' || byte == '\n');
                }
            }
            COPYDATASTRUCT data = {};
            data.dwData = random();
            data.cbData = static_cast<DWORD>(payload.size());
            data.lpData = payload.empty() ? nullptr : &payload[0];
            ++counts.copydata;
            counts.folders += folder;
            const bool answered = SendChecked(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), result, counts);
            if (answered && result == 1 && folder)
                ++taken[which];
            if (answered && result != 1) {
                ++counts.copydataBad;
                counts.foldersBad += folder;
                std::fprintf(stderr, "stress: WM_COPYDATA of %u bytes answered %lu\n",
                             static_cast<unsigned>(payload.size()), static_cast<unsigned long>(result));
            }
        } else if (pick < 50) {
            ++counts.handoffSent;
            if (SendChecked(window, WM_HANDOFF, random(), random(), result, counts) && result != 0)
                ++counts.handoffSentBad;
        } else if (pick < 54) {
            ++counts.handoffPosted;
            PostCounted(window, WM_HANDOFF, random(), random(), counts);
        } else if (pick < 88) {
            // The menu's fixed commands, which open boxes, dialogs and shell
            // views, its folder commands, and numbers no menu has; never Exit.
            const unsigned kind = below(3);
            WPARAM wParam = kind == 0 ? 2 + below(7) : kind == 1 ? 9 + below(16) : random();
            LPARAM lParam = kind < 2 || below(2) == 0 ? 0 : static_cast<LPARAM>(random());
            if (wParam == IDM_EXIT && lParam == 0)
                lParam = 1;
            counts.commandZeroLParam += lParam == 0;
            if (below(2) == 0) {
                ++counts.commandSent;
                SendChecked(window, WM_COMMAND, wParam, lParam, result, counts);
            } else {
                ++counts.commandPosted;
                PostCounted(window, WM_COMMAND, wParam, lParam, counts);
            }
        } else {
            // Mostly right-button presses on the icon; the rest other mouse
            // notices, some for another icon.
            static const LPARAM mouse[] = {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                                           WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN};
            WPARAM icon = below(10) == 0 ? random() : TRAY_ICON_ID;
            LPARAM what = below(5) == 0 ? mouse[below(sizeof mouse / sizeof mouse[0])] : WM_RBUTTONDOWN;
            ++counts.trayPosted;
            counts.rightPresses += icon == TRAY_ICON_ID && what == WM_RBUTTONDOWN;
            PostCounted(window, WM_TRAYNOTIFY, icon, what, counts);
        }
    }
    StopDismisser(dismisser);
    std::printf("copydata=%lu\ncopydata_bad=%lu\nfolders=%lu\nfolders_bad=%lu\nhandoff_sent=%lu\nhandoff_sent_bad=%lu\n"
                "handoff_posted=%lu\ncommand_sent=%lu\ncommand_posted=%lu\ncommand_zero_lparam=%lu\n"
                "tray_posted=%lu\nright_presses=%lu\npost_failed=%lu\nsend_failed=%lu\n",
                counts.copydata, counts.copydataBad, counts.folders, counts.foldersBad, counts.handoffSent, counts.handoffSentBad,
                counts.handoffPosted, counts.commandSent, counts.commandPosted, counts.commandZeroLParam,
                counts.trayPosted, counts.rightPresses, counts.postFailed, counts.sendFailed);
    for (size_t i = 0; i < taken.size(); ++i)
        std::printf("folder%u_taken=%lu\n", static_cast<unsigned>(i), taken[i]);
    const bool good = counts.copydataBad == 0 && counts.handoffSentBad == 0 && counts.postFailed == 0 &&
                      counts.sendFailed == 0 && IsWindow(window);
    return good ? 0 : EXIT_FAILED;
}

// -- dismiss -------------------------------------------------------------------

struct DialogLook {
    bool hasButton = false, hasNo = false, hasCancel = false;
    std::string text;  // the static texts, joined
};

BOOL CALLBACK LookAtChild(HWND child, LPARAM param)
{
    auto* look = reinterpret_cast<DialogLook*>(param);
    const int id = GetDlgCtrlID(child);
    const std::string cls = ClassOf(child);
    look->hasButton = look->hasButton || cls == "Button";
    if (cls == "Button" && id == IDNO)
        look->hasNo = true;
    if (cls == "Button" && id == IDCANCEL)
        look->hasCancel = true;
    if (cls == "Static" && id == 0xFFFF) {
        std::string text = WindowText(child, 2000);
        for (char& c : text)
            if (c == '\r' || c == '\n' || c == '\t')
                c = ' ';
        look->text += text;
    }
    return TRUE;
}

struct Dismisser {
    DWORD pid;
    bool quiet = false;       // counts only, no line for each
    std::set<HWND> visible;   // the process's menus and dialogs in this round
    std::set<HWND> settled;   // ...and in the round before
    std::set<HWND> answered;  // already counted and told
    unsigned long menus = 0, boxes = 0;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM param)
{
    auto* dismisser = reinterpret_cast<Dismisser*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != dismisser->pid || !IsWindowVisible(window))
        return TRUE;
    const std::string cls = ClassOf(window);
    if (cls == "#32768" || cls == "#32770")
        dismisser->visible.insert(window);
    return TRUE;
}

void DismissOne(Dismisser& dismisser, HWND window)
{
    if (ClassOf(window) == "#32768") {
        const bool first = dismisser.answered.insert(window).second;
        // What a user's Escape does; the menu's loop takes keys from the queue.
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        if (first) {
            ++dismisser.menus;
            if (!dismisser.quiet)
                std::printf("menu\n");
        }
        return;
    }
    DialogLook look;
    EnumChildWindows(window, LookAtChild, reinterpret_cast<LPARAM>(&look));
    // Not made yet, or going: the next round will tell.
    if (!look.hasButton)
        return;
    const bool first = dismisser.answered.insert(window).second;
    // No to a question, Cancel to the Save As dialog, else the box's OK.
    const WPARAM answer = look.hasNo ? IDNO : look.hasCancel ? IDCANCEL : IDOK;
    PostMessageA(window, WM_COMMAND, answer, 0);
    if (first) {
        ++dismisser.boxes;
        if (!dismisser.quiet)
            std::printf("box\t%s\t%s\n", WindowText(window, 2000).c_str(), look.text.c_str());
    }
}

void DismissRound(Dismisser& dismisser)
{
    dismisser.visible.clear();
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&dismisser));
    // A window is answered once it has been there for a round: a box
    // just shown may not have its caption and text yet.
    for (HWND window : dismisser.visible)
        if (dismisser.settled.count(window))
            DismissOne(dismisser, window);
    std::set<HWND> stillAnswered;
    for (HWND window : dismisser.answered)
        if (dismisser.visible.count(window))
            stillAnswered.insert(window);
    dismisser.answered.swap(stillAnswered);
    dismisser.settled = dismisser.visible;
}

// A peer's own thread that closes what its messages open, while the peer
// goes on sending.
struct StormDismisser {
    Dismisser dismisser;
    volatile LONG stop = 0;
    HANDLE thread = nullptr;
};

DWORD WINAPI DismissWhileStorming(LPVOID param)
{
    auto* storm = static_cast<StormDismisser*>(param);
    while (!storm->stop) {
        DismissRound(storm->dismisser);
        Sleep(40);
    }
    return 0;
}

StormDismisser* StartDismisser(HWND window)
{
    auto* storm = new StormDismisser;
    GetWindowThreadProcessId(window, &storm->dismisser.pid);
    storm->dismisser.quiet = true;
    storm->thread = CreateThread(nullptr, 0, DismissWhileStorming, storm, 0, nullptr);
    return storm;
}

void StopDismisser(StormDismisser* storm)
{
    InterlockedExchange(&storm->stop, 1);
    WaitForSingleObject(storm->thread, INFINITE);
    CloseHandle(storm->thread);
    std::printf("dismissed_menus=%lu\ndismissed_boxes=%lu\n", storm->dismisser.menus, storm->dismisser.boxes);
    delete storm;
}

// dismiss PID STOPFILE: answers every box and dialog of the process (No,
// else Cancel, else OK) and closes its menus, until STOPFILE exists or the
// process ends. Prints a line for each: "menu", or "box<TAB>caption<TAB>text".
int Dismiss(int argc, char** argv)
{
    if (argc != 2)
        Usage("dismiss PID STOPFILE");
    Dismisser dismisser;
    dismisser.pid = static_cast<DWORD>(Number(argv[0]));
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, dismisser.pid);
    if (!process) {
        std::fprintf(stderr, "stress: no process %lu\n", static_cast<unsigned long>(dismisser.pid));
        return EXIT_FAILED;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (!FileExists(argv[1]) && WaitForSingleObject(process, 40) == WAIT_TIMEOUT) {
        DismissRound(dismisser);
        std::fflush(stdout);
    }
    CloseHandle(process);
    std::printf("dismissed menus=%lu boxes=%lu\n", dismisser.menus, dismisser.boxes);
    return 0;
}

// -- usage ---------------------------------------------------------------------

// The process's entry in the system's process list: Wine fills its handle
// and thread counts there, where GetProcessHandleCount gives 0.
bool ProcessListEntry(DWORD pid, ULONG& handles, ULONG& threads, SIZE_T& privateBytes)
{
    using Query = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return false;
    std::vector<unsigned char> buffer(1 << 16);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           &needed)) == static_cast<NTSTATUS>(0xC0000004L))  // too small
        buffer.resize(buffer.size() * 2);
    if (status < 0)
        return false;
    for (size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<UINT_PTR>(entry->UniqueProcessId) == pid) {
            handles = entry->HandleCount;
            threads = entry->NumberOfThreads;
            privateBytes = entry->VirtualMemoryCounters.PagefileUsage;
            return true;
        }
        if (!entry->NextEntryOffset)
            return false;
        offset += entry->NextEntryOffset;
    }
}

// usage PID: what the system reports of the process's handles and objects:
// "handles=N threads=N private=BYTES gdi=N user=N counted_handles=N".
int UsageOf(int argc, char** argv)
{
    if (argc != 1)
        Usage("usage PID");
    const DWORD pid = static_cast<DWORD>(Number(argv[0]));
    ULONG handles = 0, threads = 0;
    SIZE_T privateBytes = 0;
    if (!ProcessListEntry(pid, handles, threads, privateBytes)) {
        std::fprintf(stderr, "stress: process %lu is not in the process list\n", static_cast<unsigned long>(pid));
        return EXIT_FAILED;
    }
    DWORD gdi = 0, user = 0, counted = 0;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid)) {
        gdi = GetGuiResources(process, GR_GDIOBJECTS);
        user = GetGuiResources(process, GR_USEROBJECTS);
        GetProcessHandleCount(process, &counted);
        CloseHandle(process);
    }
    std::printf("handles=%lu threads=%lu private=%lu gdi=%lu user=%lu counted_handles=%lu\n",
                handles, threads, static_cast<unsigned long>(privateBytes), static_cast<unsigned long>(gdi),
                static_cast<unsigned long>(user), static_cast<unsigned long>(counted));
    return 0;
}

// -- cycle ---------------------------------------------------------------------

// Polls for up to ten seconds; a menu that takes longer is a fault.
template <typename Condition>
bool WaitUntil(Condition condition)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(2))
        if (condition())
            return true;
    return false;
}

// cycle WINDOW PID MENUS HANDOFFS: shows the menu (a right-button press on
// the icon, as the tray reports it) and closes it with Escape MENUS times,
// and asks for HANDOFFS hand-offs, the two interleaved. Prints the counts and
// the time taken; fails when a menu did not open or close, or an answer was wrong.
int Cycle(int argc, char** argv)
{
    if (argc != 4)
        Usage("cycle WINDOW PID MENUS HANDOFFS");
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(argv[0])));
    const DWORD pid = static_cast<DWORD>(Number(argv[1]));
    const unsigned long menus = static_cast<unsigned long>(Number(argv[2]));
    const unsigned long handoffs = static_cast<unsigned long>(Number(argv[3]));
    unsigned long shown = 0, handedOff = 0, failures = 0;
    const DWORD start = GetTickCount();
    for (unsigned long i = 0; (i < menus || i < handoffs) && failures == 0; ++i) {
        if (i < menus) {
            PostMessageA(window, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN);
            HWND menu = nullptr;
            if (!WaitUntil([&] { return (menu = VisibleMenuOf(pid)) != nullptr; })) {
                std::fprintf(stderr, "stress: menu %lu did not open\n", i + 1);
                ++failures;
                break;
            }
            PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageA(menu, WM_KEYUP, VK_ESCAPE, 0xC0000001);
            if (!WaitUntil([&] { return VisibleMenuOf(pid) == nullptr; })) {
                std::fprintf(stderr, "stress: menu %lu did not close\n", i + 1);
                ++failures;
                break;
            }
            ++shown;
        }
        if (i < handoffs) {
            DWORD_PTR result = 1;
            if (!SendMessageTimeoutA(window, WM_HANDOFF, 0, 0, SMTO_NORMAL, SEND_TIMEOUT_MS, &result) ||
                result != 0) {
                std::fprintf(stderr, "stress: hand-off %lu not answered 0\n", i + 1);
                ++failures;
                break;
            }
            ++handedOff;
        }
    }
    std::printf("menus=%lu handoffs=%lu ms=%lu\n", shown, handedOff,
                static_cast<unsigned long>(GetTickCount() - start));
    return failures == 0 ? 0 : EXIT_FAILED;
}

// -- blocker -------------------------------------------------------------------

LRESULT CALLBACK BlockerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Every icon request fails, as with a taskbar that is not up yet.
    if (message == WM_COPYDATA)
        return FALSE;
    return DefWindowProcA(window, message, wParam, lParam);
}

// blocker STOPFILE: a taskbar window that takes no icons, found before the
// real one, until STOPFILE exists; then it goes and announces the real
// taskbar as a starting shell does ("TaskbarCreated" to every top-level window).
int Blocker(int argc, char** argv)
{
    if (argc != 1)
        Usage("blocker STOPFILE");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BlockerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "Shell_TrayWnd";
    if (!RegisterClassA(&windowClass)) {
        std::fprintf(stderr, "stress: RegisterClass failed\n");
        return EXIT_FAILED;
    }
    // Top-most and newest: first in the z-order, so the one a search finds.
    HWND window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "Shell_TrayWnd", nullptr, WS_POPUP, 0, 0,
                                  0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window || FindWindowExA(nullptr, nullptr, "Shell_TrayWnd", nullptr) != window) {
        std::fprintf(stderr, "stress: the blocking taskbar window is not the first one\n");
        return EXIT_FAILED;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (!FileExists(argv[0])) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    DestroyWindow(window);
    SendNotifyMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    std::printf("gone\n");
    return 0;
}

// -- refuse --------------------------------------------------------------------

// From now on the first of every EVERY calls the process's program makes of
// FUNCTION (a stdcall one of ARGUMENT_BYTES, answering 0 when it fails), or
// only of those whose second argument is *message, fails without being
// made. False while the program's imports are not bound yet, or where they
// cannot be reached.
bool RefuseCalls(DWORD pid, const char* function, WORD bytes, DWORD every, const DWORD* message)
{
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    MODULEENTRY32 program = {};
    program.dwSize = sizeof program;
    const DWORD_PTR slot =
        process && modules != INVALID_HANDLE_VALUE && Module32First(modules, &program)
            ? ImportSlot(process, program.modBaseAddr, function) : 0;
    if (modules != INVALID_HANDLE_VALUE)
        CloseHandle(modules);
    // Before the loader binds it, the slot holds an address within the image.
    DWORD original = 0;
    BYTE* code = nullptr;
    if (slot && ReadProcessMemory(process, reinterpret_cast<void*>(slot), &original, 4, nullptr) &&
        original >= program.modBaseSize)
        code = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, 64, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    if (!code) {
        if (process)
            CloseHandle(process);
        return false;
    }
    // The countdown, then the original function, after the code.
    const auto countdown = reinterpret_cast<DWORD>(code + 48), originalAt = countdown + 4;
    std::vector<BYTE> thunk;
    auto dword = [&thunk](DWORD value) {
        for (int i = 0; i < 32; i += 8)
            thunk.push_back(static_cast<BYTE>(value >> i));
    };
    size_t toOriginal = 0;
    if (message) {  // cmp dword [esp+8], MESSAGE; jne original
        thunk.insert(thunk.end(), {0x81, 0x7C, 0x24, 0x08});
        dword(*message);
        thunk.insert(thunk.end(), {0x75, 0});
        toOriginal = thunk.size() - 1;
    }
    thunk.insert(thunk.end(), {0xFF, 0x0D});  // dec dword [countdown]; jnz original
    dword(countdown);
    thunk.insert(thunk.end(), {0x75, 0});
    const size_t counted = thunk.size() - 1;
    thunk.insert(thunk.end(), {0xC7, 0x05});  // mov dword [countdown], EVERY
    dword(countdown);
    dword(every);
    // xor eax, eax; ret BYTES
    thunk.insert(thunk.end(), {0x31, 0xC0, 0xC2, static_cast<BYTE>(bytes), static_cast<BYTE>(bytes >> 8)});
    for (size_t jump : {toOriginal, counted})
        if (jump)
            thunk[jump] = static_cast<BYTE>(thunk.size() - jump - 1);
    thunk.insert(thunk.end(), {0xFF, 0x25});  // original: jmp [originalAt]
    dword(originalAt);
    thunk.resize(48);
    dword(1);
    dword(original);
    const bool done = WriteProcessMemory(process, code, thunk.data(), thunk.size(), nullptr) &&
                      FlushInstructionCache(process, code, thunk.size()) &&
                      Redirect(process, slot, reinterpret_cast<DWORD>(code));
    CloseHandle(process);
    return done;
}

// refuse PID FUNCTION ARGUMENT_BYTES EVERY [MESSAGE]: RefuseCalls, as
// Windows fails a post to a full queue or a foreground change it does not allow.
int Refuse(int argc, char** argv)
{
    if (argc < 4)
        Usage("refuse PID FUNCTION ARGUMENT_BYTES EVERY [MESSAGE]");
    const DWORD message = argc > 4 ? static_cast<DWORD>(Number(argv[4])) : 0;
    if (RefuseCalls(static_cast<DWORD>(Number(argv[0])), argv[1], static_cast<WORD>(Number(argv[2])),
                    static_cast<DWORD>(Number(argv[3])), argc > 4 ? &message : nullptr))
        return 0;
    std::fprintf(stderr, "stress: the process's calls of %s cannot be reached\n", argv[1]);
    return EXIT_FAILED;
}

// second WINDOW PROGRAM: starts PROGRAM, a second start of the agent whose
// window it is, while the agent's thread is held, so that the start waits
// for the agent's answer; its AllowSetForegroundWindow fails meanwhile, as
// where Windows does not let it pass the foreground on. Then lets the agent
// go on and prints the start's exit code.
int Second(int argc, char** argv)
{
    if (argc != 2)
        Usage("second WINDOW PROGRAM");
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(argv[0])));
    HANDLE held = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!held || SuspendThread(held) == static_cast<DWORD>(-1) ||
        !CreateProcessA(nullptr, argv[1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        if (held)
            ResumeThread(held);
        std::fprintf(stderr, "stress: the second start could not be made\n");
        return EXIT_FAILED;
    }
    bool refused = false;
    for (DWORD start = GetTickCount(); !refused && GetTickCount() - start < 10000; Sleep(20))
        refused = RefuseCalls(started.dwProcessId, "AllowSetForegroundWindow", 4, 1, nullptr);
    ResumeThread(held);
    CloseHandle(held);
    DWORD code = 0;
    WaitForSingleObject(started.hProcess, 30000);
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    std::printf("%lu\n", static_cast<unsigned long>(code));
    if (!refused)
        std::fprintf(stderr, "stress: the second start's AllowSetForegroundWindow could not be reached\n");
    return refused ? 0 : EXIT_FAILED;
}

// inject PID LIBRARY: loads the library into the process, whose loading
// does what it is for (iconrect.dll: the tray tells the icon's place).
int Inject(int argc, char** argv)
{
    if (argc != 2)
        Usage("inject PID LIBRARY");
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(Number(argv[0])));
    const SIZE_T size = std::strlen(argv[1]) + 1;
    void* name = process ? VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE) : nullptr;
    // kernel32 lies at the same address in every process of the session.
    const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = name && WriteProcessMemory(process, name, argv[1], size, nullptr)
                        ? CreateRemoteThread(process, nullptr, 0, load, name, 0, nullptr) : nullptr;
    DWORD loaded = 0;
    if (!thread || WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &loaded) ||
        !loaded) {
        std::fprintf(stderr, "stress: %s was not loaded into the process\n", argv[1]);
        return EXIT_FAILED;
    }
    CloseHandle(thread);
    CloseHandle(process);
    return 0;
}

const Command commands[] = {
    {"storm", Storm}, {"dismiss", Dismiss}, {"usage", UsageOf}, {"cycle", Cycle},
    {"blocker", Blocker}, {"refuse", Refuse}, {"inject", Inject}, {"second", Second},
};

}  // namespace

int main(int argc, char** argv)
{
    const int code = RunCommand(commands, argc, argv);
    if (code >= 0)
        return code;
    Usage("stress storm|dismiss|usage|cycle|blocker|refuse|inject|second ...");
}
