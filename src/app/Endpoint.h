// The agent's public endpoint: all that another process may rely on to find
// the agent's hidden window and feed it. Senders include this header alone;
// the agent's own header builds on it.
#pragma once

#include <windows.h>

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
//                                    (32 bits), once it has one.
// The name of such an object of the copy this program belongs to.
using ObjectName = wchar_t[96];
void NameOfThisCopys(const wchar_t* kind, ObjectName& name);
// This copy's running agent, by the window it published; null when none.
HWND PublishedAgent();

// Windows keeps messages from a process with higher rights (one started
// "as administrator"), and such a process's objects from the others.
constexpr wchar_t AGENT_RUNS_HIGHER_TEXT[] =
    L"Folderlane runs with higher rights than this program (it was started as administrator), and Windows "
    L"keeps this program's messages from it. End Folderlane and start it again without administrator rights";
