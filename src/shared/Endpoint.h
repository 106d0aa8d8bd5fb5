// The agent's public endpoint: all that another process may rely on to find
// the agent's hidden window and feed it. Senders include this header alone;
// the agent's own header builds on it.
#pragma once

#include <windows.h>

// A function of a system library that older systems lack, looked up by
// name; null where the system has none.
void* LookUpFunction(const char* module, const char* name);
template <typename Function>
Function LookUp(const char* module, const char* name) {
    return reinterpret_cast<Function>(LookUpFunction(module, name));
}

constexpr char MAIN_WINDOW_CLASS[] = "NelvoFolderWindow";
constexpr char MAIN_WINDOW_TITLE[] = "NelvoFolder";

// A folder comes as a sent WM_COPYDATA: the path in the ANSI code page, at
// most 260 bytes. WM_HANDOFF, sent or posted, asks for the hand-off.
constexpr UINT WM_HANDOFF = WM_USER + 9;

// One agent runs per copy of the programs (their folder) and session. The
// objects that say so are named after what that folder is, its volume and
// file identity, so that every spelling of it (another drive letter, a
// link, a share) names the same ones:
//   Local\Folderlane.Agent.ID        the mutex the running agent holds;
//   Local\Folderlane.AgentWindow.ID  a section holding its window's handle
//                                    (32 bits), once it has one;
//   Local\Folderlane.StartAgent.ID   the mutex an opener holds while it
//                                    starts the agent.
// Any process may make an object of such a name first: what the section
// says is trusted only where the window's process runs this copy's program.
using CopyIdentity = WCHAR[52];
using ObjectName = wchar_t[112];
// The identity of the folder of program (a path of length characters,
// which the call may change): the volume and the file system's number of
// the folder; where there is none, a hash of the folder's final path.
void IdentityOfProgramFolder(WCHAR* program, DWORD length, CopyIdentity& identity);
void NameOfCopys(const WCHAR* identity, const wchar_t* kind, ObjectName& name);
// The name of such an object of the copy this program belongs to.
void NameOfThisCopys(const wchar_t* kind, ObjectName& name);
// Whether the window's process runs a program of this copy's folder.
bool RunsThisCopy(HWND window);
// This copy's running agent: the window it published, else this copy's
// among the agents' windows; null when none.
HWND PublishedAgent();

// Security for this copy's named objects: only this user may use them, and
// no process below medium integrity may write them.
class OwnObjectAttributes {
public:
    OwnObjectAttributes();
    ~OwnObjectAttributes();
    OwnObjectAttributes(const OwnObjectAttributes&) = delete;
    OwnObjectAttributes& operator=(const OwnObjectAttributes&) = delete;
    SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
};

// The argument an opener starts the agent with: a start that finds this
// copy's agent running then shows no menu.
constexpr wchar_t QUIET_START_ARGUMENT[] = L"/quiet";

// Windows keeps messages from a process with higher rights (one started
// "as administrator"), and such a process's objects from the others.
constexpr wchar_t AGENT_RUNS_HIGHER_TEXT[] =
    L"Folderlane runs with higher rights than this program (it was started as administrator), and Windows "
    L"keeps this program's messages from it. End Folderlane and start it again without administrator rights";
