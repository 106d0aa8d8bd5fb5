// What folderlane-send (for scripts) and folderlane-open (for Explorer)
// share: reading the folder from the command line, making it a path the
// agent can take, finding the agent and handing the folder over. Fixed
// buffers and no library strings: each sender stays a few kilobytes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "shared/Endpoint.h"
#include "platform/Handle.h"

#include <initializer_list>

namespace delivery {

// Exit codes of both programs.
constexpr int EXIT_DELIVERED = 0;
constexpr int EXIT_NOT_TAKEN = 1;  // the agent did not take the message
constexpr int EXIT_REFUSED = 2;    // wrong arguments, or a folder the agent cannot be given
constexpr int EXIT_NO_AGENT = 3;

// The agent keeps 260 bytes, but the ANSI file calls it passes them to take
// one fewer.
constexpr int PATH_MAX_BYTES = 259;
// UTF-16 units of the longest path and of the longest command line Windows knows.
constexpr DWORD LONGEST_PATH = 32768;

inline void FreeArgv(LPWSTR* argv) { LocalFree(argv); }

// The arguments after the program's name, as UTF-16: the ANSI command line
// has already lost the characters the code page lacks.
class Arguments {
public:
    Arguments() : argv_(CommandLineToArgvW(GetCommandLineW(), &count_)) {}
    int Count() const { return argv_ && count_ > 1 ? count_ - 1 : 0; }
    wchar_t* operator[](int i) const { return argv_.get()[i + 1]; }

private:
    int count_ = 0;
    UniqueHandle<LPWSTR*, FreeArgv> argv_;
};

enum class PathProblem { None, NoFullPath, NoShortNames, NotFound, Unreadable, TooLong };

using AgentPath = char[PATH_MAX_BYTES + 1];

// The folder as the agent keeps it: absolute, without \\?\ and without a
// trailing backslash (a root's stays), in the ANSI code page, every name as
// it is on disk or, where it has no exact ANSI form, its short name; at most
// PATH_MAX_BYTES bytes and a zero byte, for which names from the outermost
// on take their short names where the path would be longer. Mends the
// argument where the command line spoilt it.
PathProblem ToAgentPath(wchar_t* argument, AgentPath& path);

// Whether the path names an existing folder: None, NotFound or Unreadable.
PathProblem FolderProblem(const char* path);

// What went wrong, and what to do, for the user; names the name that the
// code page lacks where the last ToAgentPath met one.
const wchar_t* Explain(PathProblem problem);

// The parts, one after the other, in one buffer that the next call reuses.
const wchar_t* Join(std::initializer_list<const wchar_t*> parts);

// WM_COPYDATA, sent: the system copies the payload only for sent messages.
// On false GetLastError() gives the cause: 0 when the agent answered, but
// not with 1.
bool SendFolder(HWND agent, const char* path);

// Windows refuses a message to a process with higher rights than the
// sender's with error 5: an agent started "as administrator".
constexpr DWORD AGENT_RUNS_HIGHER = ERROR_ACCESS_DENIED;

}  // namespace delivery
