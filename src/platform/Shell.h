// What the agent asks of the Windows shell and version services.
#pragma once

#include <string>

// The special folder's path, or "" when the shell cannot give it.
std::string GetSpecialFolder(int csidl);

// The FileVersion of the US English / code page 1252 string table, or "".
std::string GetFileVersionString(const std::string& path);

// ShellExecuteA with no owner window and no working directory; true when
// the shell's result, taken unsigned, is above 32. The first call initialises
// COM on the calling thread, which the shell may need for the open.
bool ShellOpen(const char* verb, const std::string& file, const char* parameters, int show);

// ShellOpen's open of a file at its full path, through the wide call and,
// beyond MAX_PATH, the long form.
bool ShellOpenFile(const std::string& file);

// FindExecutable with no directory, for a file as ShellOpenFile takes it;
// true when a program is associated.
bool HasAssociatedProgram(const std::string& file);

// Held by the thread that opens things for as long as it does: releases COM
// at the end when an open initialised it.
class ShellUse {
public:
    ShellUse() = default;
    ~ShellUse();
    ShellUse(const ShellUse&) = delete;
    ShellUse& operator=(const ShellUse&) = delete;
};
