// The end-to-end tests' hands inside the Wine world: another process that
// finds the agent's window, talks to it with real messages, reads message
// boxes and the tray, holds files open and waits for processes.
//
// Usage: probe <command> [arguments]; numbers may be decimal or 0x-hex.
// A window argument is either a handle number or "Class|Title" (either part
// may be empty, meaning any). Results go to stdout, one item a line;
// exit code 0 on success, 1 when the thing asked for is not there, 2 on
// a usage error, 3 on a time-out.
#include <windows.h>
#include <shellapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "Commands.h"
#include "KeeperIcon.h"
#include "shared/Endpoint.h"
#include "WindowText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_NOT_FOUND = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_TIMEOUT = 3;
constexpr UINT SEND_TIMEOUT_MS = 10000;

[[noreturn]] void Fail(int code, const char* what)
{
    std::fprintf(stderr, "probe: %s\n", what);
    std::fflush(stdout);
    std::exit(code);
}

unsigned long long ParseNumber(const char* text)
{
    char* end = nullptr;
    // Negative numbers are taken as their 32-bit two's complement.
    long long value = std::strtoll(text, &end, 0);
    if (end == text || *end != '\0')
        Fail(EXIT_USAGE, "not a number");
    return static_cast<unsigned long long>(value);
}

bool IsNumber(const char* text)
{
    char* end = nullptr;
    std::strtoll(text, &end, 0);
    return end != text && *end == '\0';
}

struct WindowQuery {
    std::string className;  // empty: any
    std::string title;      // empty: any
    bool visibleOnly = false;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectMatching(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<WindowQuery*>(param);
    if (!query->className.empty() && ClassOf(window) != query->className)
        return TRUE;
    if (!query->title.empty()) {
        char title[1024] = {};
        GetWindowTextA(window, title, sizeof title);  // captions of top-level windows are cached
        if (query->title != title)
            return TRUE;
    }
    if (query->visibleOnly && !IsWindowVisible(window))
        return TRUE;
    query->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindTopLevel(const std::string& spec, bool visibleOnly = false)
{
    WindowQuery query;
    const auto bar = spec.find('|');
    query.className = spec.substr(0, bar);
    if (bar != std::string::npos)
        query.title = spec.substr(bar + 1);
    query.visibleOnly = visibleOnly;
    EnumWindows(CollectMatching, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

HWND ResolveWindow(const char* spec)
{
    if (IsNumber(spec)) {
        HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(ParseNumber(spec)));
        if (!IsWindow(window))
            Fail(EXIT_NOT_FOUND, "no such window");
        return window;
    }
    const auto found = FindTopLevel(spec);
    if (found.empty())
        Fail(EXIT_NOT_FOUND, "window not found");
    return found.front();
}

// A message given by name is a registered one ("TaskbarCreated").
UINT ResolveMessage(const char* text)
{
    if (IsNumber(text))
        return static_cast<UINT>(ParseNumber(text));
    return RegisterWindowMessageA(text);
}

void PrintWindowLine(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT rect = {};
    GetWindowRect(window, &rect);
    std::printf("%lu pid=%lu visible=%d rect=%ld,%ld,%ld,%ld class=%s text=%s\n",
                static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)),
                static_cast<unsigned long>(pid), IsWindowVisible(window) ? 1 : 0,
                rect.left, rect.top, rect.right, rect.bottom,
                ClassOf(window).c_str(), WindowText(window).c_str());
}

// find SPEC: every matching top-level window, one a line.
int Find(int argc, char** argv)
{
    if (argc != 1)
        Fail(EXIT_USAGE, "find Class|Title");
    const auto found = FindTopLevel(argv[0]);
    for (HWND window : found)
        PrintWindowLine(window);
    return found.empty() ? EXIT_NOT_FOUND : 0;
}

BOOL CALLBACK PrintChild(HWND window, LPARAM)
{
    std::printf("  ");
    PrintWindowLine(window);
    return TRUE;
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM)
{
    PrintWindowLine(window);
    EnumChildWindows(window, PrintChild, 0);
    return TRUE;
}

// tree: every top-level window and its children, for finding one's way.
int Tree(int, char**)
{
    EnumWindows(PrintTopLevel, 0);
    return 0;
}

BOOL CALLBACK PrintChildText(HWND window, LPARAM)
{
    std::printf("%s\t%d\t%s\n", ClassOf(window).c_str(), GetDlgCtrlID(window),
                WindowText(window).c_str());
    return TRUE;
}

// texts SPEC: the window's own text, then "class<TAB>id<TAB>text" per child.
int Texts(int argc, char** argv)
{
    if (argc != 1)
        Fail(EXIT_USAGE, "texts WINDOW");
    HWND window = ResolveWindow(argv[0]);
    std::printf("%s\n", WindowText(window).c_str());
    EnumChildWindows(window, PrintChildText, 0);
    return 0;
}

// send|post WINDOW MESSAGE WPARAM LPARAM [MESSAGE WPARAM LPARAM]...: several
// messages go out back to back, before the receiver can act on the first.
// send prints each result on a line of its own.
int SendOrPost(int argc, char** argv, bool post)
{
    if (argc < 4 || (argc - 1) % 3 != 0)
        Fail(EXIT_USAGE, "send|post WINDOW MESSAGE WPARAM LPARAM [MESSAGE WPARAM LPARAM]...");
    HWND window = ResolveWindow(argv[0]);
    for (int i = 1; i < argc; i += 3) {
        const UINT message = ResolveMessage(argv[i]);
        const WPARAM wParam = static_cast<WPARAM>(ParseNumber(argv[i + 1]));
        const LPARAM lParam = static_cast<LPARAM>(ParseNumber(argv[i + 2]));
        if (post) {
            if (!PostMessageA(window, message, wParam, lParam))
                Fail(EXIT_NOT_FOUND, "PostMessage failed");
            continue;
        }
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS, &result))
            Fail(GetLastError() == ERROR_TIMEOUT ? EXIT_TIMEOUT : EXIT_NOT_FOUND, "SendMessage failed");
        std::printf("%ld\n", static_cast<long>(result));
        std::fflush(stdout);
    }
    return 0;
}

std::vector<char> ParseHex(const char* text)
{
    std::vector<char> bytes;
    std::string digits;
    for (const char* p = text; *p; ++p)
        if (*p != ' ' && *p != ':' && *p != '-')
            digits += *p;
    if (digits.size() % 2 != 0)
        Fail(EXIT_USAGE, "odd number of hex digits");
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<char>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

// copydata WINDOW DWDATA HEX: sends the payload (HEX may be "" for 0 bytes).
int CopyData(int argc, char** argv)
{
    if (argc != 3)
        Fail(EXIT_USAGE, "copydata WINDOW DWDATA HEXBYTES");
    HWND window = ResolveWindow(argv[0]);
    std::vector<char> payload = ParseHex(argv[2]);
    COPYDATASTRUCT data = {};
    data.dwData = static_cast<ULONG_PTR>(ParseNumber(argv[1]));
    data.cbData = static_cast<DWORD>(payload.size());
    data.lpData = payload.empty() ? nullptr : payload.data();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             SEND_TIMEOUT_MS, &result))
        Fail(GetLastError() == ERROR_TIMEOUT ? EXIT_TIMEOUT : EXIT_NOT_FOUND, "SendMessage failed");
    std::printf("%ld\n", static_cast<long>(result));
    return 0;
}

BOOL CALLBACK FindButton(HWND window, LPARAM param)
{
    auto* wanted = reinterpret_cast<std::pair<std::string, HWND>*>(param);
    if (ClassOf(window) == "Button") {
        std::string text = WindowText(window);
        std::string bare;
        for (char c : text)
            if (c != '&')
                bare += c;
        if (lstrcmpiA(bare.c_str(), wanted->first.c_str()) == 0) {
            wanted->second = window;
            return FALSE;
        }
    }
    return TRUE;
}

// press WINDOW BUTTON: BUTTON is a command id (IDOK 1, IDYES 6, IDNO 7...)
// sent as WM_COMMAND, or a button's caption, clicked with BM_CLICK.
int Press(int argc, char** argv)
{
    if (argc != 2)
        Fail(EXIT_USAGE, "press WINDOW ID|CAPTION");
    HWND window = ResolveWindow(argv[0]);
    // Posted, so that the probe does not wait on what the press sets off.
    if (IsNumber(argv[1])) {
        if (!PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(ParseNumber(argv[1])), 0))
            Fail(EXIT_NOT_FOUND, "PostMessage failed");
        return 0;
    }
    std::pair<std::string, HWND> wanted(argv[1], nullptr);
    EnumChildWindows(window, FindButton, reinterpret_cast<LPARAM>(&wanted));
    if (!wanted.second)
        Fail(EXIT_NOT_FOUND, "button not found");
    PostMessageA(wanted.second, BM_CLICK, 0, 0);
    return 0;
}

// wait PID TIMEOUT_MS: prints the process's exit code once it has ended.
// Waits for a process, closes its handle and prints its exit code.
int PrintExitCode(HANDLE process, DWORD timeoutMs, const char* stillRunning)
{
    const DWORD waited = WaitForSingleObject(process, timeoutMs);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0)
        Fail(EXIT_TIMEOUT, stillRunning);
    std::printf("%lu\n", static_cast<unsigned long>(code));
    return 0;
}

int Wait(int argc, char** argv)
{
    if (argc != 2)
        Fail(EXIT_USAGE, "wait PID TIMEOUT_MS");
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                                 static_cast<DWORD>(ParseNumber(argv[0])));
    if (!process)
        Fail(EXIT_NOT_FOUND, "no such process");
    return PrintExitCode(process, static_cast<DWORD>(ParseNumber(argv[1])), "process still running");
}

DWORD ParseAccess(const std::string& text)
{
    DWORD access = 0;
    for (char c : text) {
        if (c == 'r') access |= GENERIC_READ;
        else if (c == 'w') access |= GENERIC_WRITE;
        else if (c != '-') Fail(EXIT_USAGE, "access is made of r, w or -");
    }
    return access;
}

DWORD ParseShare(const std::string& text)
{
    DWORD share = 0;
    for (char c : text) {
        if (c == 'r') share |= FILE_SHARE_READ;
        else if (c == 'w') share |= FILE_SHARE_WRITE;
        else if (c == 'd') share |= FILE_SHARE_DELETE;
        else if (c != '-') Fail(EXIT_USAGE, "share is made of r, w, d or -");
    }
    return share;
}

// hold PATH ACCESS SHARE SECONDS: opens (or creates) the file, says "held",
// and keeps it open for the given time (or until the process is killed).
int Hold(int argc, char** argv)
{
    if (argc != 4)
        Fail(EXIT_USAGE, "hold PATH ACCESS(rw-) SHARE(rwd-) SECONDS");
    HANDLE file = CreateFileA(argv[0], ParseAccess(argv[1]), ParseShare(argv[2]), nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
        return EXIT_NOT_FOUND;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(ParseNumber(argv[3])) * 1000);
    CloseHandle(file);
    return 0;
}

// menu: whether a pop-up menu (class "#32768") is visible.
int Menu(int, char**)
{
    const auto menus = FindTopLevel("#32768", true);
    for (HWND window : menus)
        PrintWindowLine(window);
    return menus.empty() ? EXIT_NOT_FOUND : 0;
}

struct TrayIcons {
    const char* iconClass;  // nullptr: every visible child is an icon
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTrayIcon(HWND window, LPARAM param)
{
    auto* icons = reinterpret_cast<TrayIcons*>(param);
    if (IsWindowVisible(window) && (!icons->iconClass || ClassOf(window) == icons->iconClass))
        icons->found.push_back(window);
    return TRUE;
}

// tray: one line "icon X,Y" per icon in Wine's tray, X,Y being the icon's
// centre on the screen; fails when there is no tray. Wine 8 shows the icons
// in a stand-alone window of its X11 driver; Wine 10 in explorer's own
// taskbar window, one child of class "__wine_tray_icon" each.
int Tray(int, char**)
{
    TrayIcons icons = {nullptr, {}};
    auto trays = FindTopLevel("__winex11_standalone_tray", true);
    if (trays.empty()) {
        trays = FindTopLevel("Shell_TrayWnd", true);
        icons.iconClass = "__wine_tray_icon";
    }
    if (trays.empty())
        Fail(EXIT_NOT_FOUND, "no tray window");
    EnumChildWindows(trays.front(), CollectTrayIcon, reinterpret_cast<LPARAM>(&icons));
    for (HWND icon : icons.found) {
        RECT rect = {};
        GetWindowRect(icon, &rect);
        std::printf("icon %ld,%ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    }
    return 0;
}

// tip: the text of the tool-tip shown at the moment, if any. The tray keeps
// an icon's tip in a tool-tip window that has the text only while it shows.
int Tip(int, char**)
{
    const auto tips = FindTopLevel("tooltips_class32", true);
    for (HWND tip : tips)
        std::printf("%s\n", WindowText(tip).c_str());
    return tips.empty() ? EXIT_NOT_FOUND : 0;
}

// notify delete|add WINDOW ID [TIP]: Shell_NotifyIcon on another window's behalf,
// as a restarted or confused shell would see it.
int Notify(int argc, char** argv)
{
    if (argc < 3)
        Fail(EXIT_USAGE, "notify add|delete WINDOW ID [TIP]");
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = ResolveWindow(argv[1]);
    data.uID = static_cast<UINT>(ParseNumber(argv[2]));
    DWORD action = NIM_DELETE;
    if (std::strcmp(argv[0], "add") == 0) {
        action = NIM_ADD;
        data.uFlags = NIF_TIP | NIF_ICON;
        data.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
        lstrcpynA(data.szTip, argc > 3 ? argv[3] : "probe", sizeof data.szTip);
    } else if (std::strcmp(argv[0], "delete") != 0) {
        Fail(EXIT_USAGE, "notify add|delete");
    }
    const BOOL ok = Shell_NotifyIconA(action, &data);
    std::printf("%d\n", ok ? 1 : 0);
    return ok ? 0 : EXIT_NOT_FOUND;
}

// exec VERB FILE [PARAMS]: ShellExecuteA as the agent calls it; prints the result.
int Exec(int argc, char** argv)
{
    if (argc < 2)
        Fail(EXIT_USAGE, "exec VERB FILE [PARAMS]");
    HINSTANCE result = ShellExecuteA(nullptr, argv[0][0] ? argv[0] : nullptr, argv[1],
                                     argc > 2 ? argv[2] : nullptr, nullptr, SW_SHOWNORMAL);
    std::printf("%lu\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(result)));
    return 0;
}

// run COMMAND_LINE: starts a program by its whole command line, as the shell
// does with a registered command once it has put the file in. Waits for the
// program and prints its exit code.
int Run(int argc, char** argv)
{
    if (argc != 1)
        Fail(EXIT_USAGE, "run COMMAND_LINE");
    std::string commandLine = argv[0];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        Fail(EXIT_NOT_FOUND, "the program did not start");
    CloseHandle(process.hThread);
    return PrintExitCode(process.hProcess, 60000, "the program is still running");
}

// elevated: 1 when the probe runs with full administrator rights (as Wine 8
// runs every program), 0 when not (Wine 10, like Windows, but for "runas").
int Elevated(int, char**)
{
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        Fail(EXIT_NOT_FOUND, "no token elevation");
    CloseHandle(token);
    std::printf("%lu\n", static_cast<unsigned long>(elevation.TokenIsElevated));
    return 0;
}

// runas FILE [PARAMS]: starts a program as "Run as administrator" does (the
// shell's runas verb), waits for it and prints its exit code.
int RunAs(int argc, char** argv)
{
    if (argc < 1 || argc > 2)
        Fail(EXIT_USAGE, "runas FILE [PARAMS]");
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "runas";
    info.lpFile = argv[0];
    info.lpParameters = argc > 1 ? argv[1] : nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info) || !info.hProcess)
        Fail(EXIT_NOT_FOUND, "the program did not start");
    return PrintExitCode(info.hProcess, 120000, "the program is still running");
}

// verb CLASS VERB PATH [DIRECTORY]: what Explorer does when the user chooses
// a verb on an item of a class (Directory, Directory\Background, Drive): the
// shell finds the verb's command and runs it with the path put in; on a
// folder's background Explorer gives the folder as the directory too. The
// arguments are read as UTF-16, so names outside the ANSI code page reach
// the shell whole. Waits for the program and prints its exit code.
int Verb(int argc, char**)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argc < 3 || argc > 4 || !wide || count != argc + 2)
        Fail(EXIT_USAGE, "verb CLASS VERB PATH [DIRECTORY]");
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_CLASSNAME | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpClass = wide[2];
    info.lpVerb = wide[3];
    info.lpFile = wide[4];
    info.lpDirectory = argc > 3 ? wide[5] : nullptr;
    info.nShow = SW_SHOWNORMAL;
    const BOOL started = ShellExecuteExW(&info);
    LocalFree(wide);
    if (!started || !info.hProcess)
        Fail(EXIT_NOT_FOUND, "the shell started nothing");
    return PrintExitCode(info.hProcess, 60000, "the program is still running");
}

// modules PID: the full paths of the modules loaded in a process, which
// tell, for example, which comctl32 its activation context chose.
int Modules(int argc, char** argv)
{
    if (argc != 1)
        Fail(EXIT_USAGE, "modules PID");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, static_cast<DWORD>(ParseNumber(argv[0])));
    if (snapshot == INVALID_HANDLE_VALUE)
        Fail(EXIT_NOT_FOUND, "no such process");
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module))
        std::printf("%s\n", module.szExePath);
    CloseHandle(snapshot);
    return 0;
}

// folder CSIDL: the path of a special folder of the user (CSIDL_STARTUP...).
int Folder(int argc, char** argv)
{
    if (argc != 1)
        Fail(EXIT_USAGE, "folder CSIDL");
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, static_cast<int>(ParseNumber(argv[0])), FALSE))
        Fail(EXIT_NOT_FOUND, "no such folder");
    std::printf("%s\n", path);
    return 0;
}

// Says "ready" and serves the thread's windows until killed.
int ServeUntilKilled()
{
    std::printf("ready\n");
    std::fflush(stdout);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}

// keep: a quiet Wine process for the whole test run. It keeps the desktop
// alive between agents (they run with explorer.exe disabled and could not
// start it again) and holds one tray icon of its own: Wine hides the tray
// window when its last icon goes, and without a window manager that hiding
// waits two seconds for an answer that never comes. Says "ready" once the
// icon is in. Runs until killed.
int Keep(int, char**)
{
    if (!AddKeeperIcon("E2EKeeper", 60000))
        Fail(EXIT_TIMEOUT, "the tray took no icon");
    return ServeUntilKilled();
}

// lock SECONDS [deny]: run from an agent's folder, holds that copy's agent
// lock as a first agent that has no window yet does; with deny, as one
// with other rights (nobody else may open it). Says "held".
int Lock(int argc, char** argv)
{
    if (argc < 1)
        Fail(EXIT_USAGE, "lock SECONDS [deny]");
    SECURITY_DESCRIPTOR denying;
    InitializeSecurityDescriptor(&denying, SECURITY_DESCRIPTOR_REVISION);
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    SetSecurityDescriptorDacl(&denying, TRUE, &empty, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &denying, FALSE};
    ObjectName name;
    NameOfThisCopys(L"Agent", name);
    if (!CreateMutexW(argc > 1 ? &attributes : nullptr, TRUE, name) || GetLastError() == ERROR_ALREADY_EXISTS)
        Fail(EXIT_NOT_FOUND, "the lock is taken");
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(ParseNumber(argv[0])) * 1000);
    return 0;
}

// squat FOLDER: another program, started before the agent of the copy in
// FOLDER, makes the section that publishes that agent's window, which the
// others may only read, and puts there a window of its own, of the agent's
// class and title. Says "ready", then "copydata" for each folder it gets
// and "tray" for each tray notice (a second start's request for the menu).
LRESULT CALLBACK SquatterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    constexpr UINT WM_TRAYNOTIFY = WM_USER + 8;
    if ((message == WM_COPYDATA || message == WM_TRAYNOTIFY) &&
        std::printf(message == WM_COPYDATA ? "copydata\n" : "tray\n"))
        std::fflush(stdout);
    return DefWindowProcA(window, message, wParam, lParam);
}

int Squat(int argc, char** argv)
{
    if (argc < 1)
        Fail(EXIT_USAGE, "squat FOLDER");
    WCHAR program[MAX_PATH + 2];
    const int length = MultiByteToWideChar(CP_ACP, 0, argv[0], -1, program, MAX_PATH) - 1;
    lstrcatW(program, L"\\x");
    CopyIdentity identity;
    IdentityOfProgramFolder(program, static_cast<DWORD>(length + 2), identity);
    ObjectName name;
    NameOfCopys(identity, L"AgentWindow", name);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SquatterProc;
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, readOnly, FALSE};
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(DWORD), name);
    void* view = section ? MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)) : nullptr;
    if (!window || !view)
        Fail(EXIT_NOT_FOUND, "no window or section");
    *static_cast<DWORD*>(view) = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window));
    return ServeUntilKilled();
}

int Send(int argc, char** argv) { return SendOrPost(argc, argv, false); }
int Post(int argc, char** argv) { return SendOrPost(argc, argv, true); }

const Command commands[] = {
    {"find", Find},   {"tree", Tree},       {"texts", Texts},   {"send", Send},
    {"post", Post},   {"copydata", CopyData}, {"press", Press}, {"wait", Wait},
    {"hold", Hold},   {"menu", Menu},       {"tray", Tray},     {"tip", Tip},
    {"notify", Notify},
    {"exec", Exec},   {"run", Run},         {"verb", Verb},     {"folder", Folder},
    {"modules", Modules},
    {"keep", Keep},   {"lock", Lock},       {"squat", Squat},
    {"elevated", Elevated}, {"runas", RunAs},
};

}  // namespace

int main(int argc, char** argv)
{
    // Screen coordinates in pixels, as xdotool takes them and the agent
    // (aware of the scale) draws: Wine 10, like Windows, scales them for a
    // program that is not aware.
    SetProcessDPIAware();
    const int code = RunCommand(commands, argc, argv);
    if (code >= 0)
        return code;
    std::fprintf(stderr, "usage: probe find|tree|texts|send|post|copydata|press|wait|hold|menu|tray|tip|notify|exec|run|verb|folder|modules|keep|lock|squat|elevated|runas ...\n");
    return EXIT_USAGE;
}
