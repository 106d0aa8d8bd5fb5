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
