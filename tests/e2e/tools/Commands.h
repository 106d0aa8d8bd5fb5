// Sub-commands of a test tool: "tool NAME ARGS...".
#pragma once

#include <cstdio>
#include <cstring>

struct Command {
    const char* name;
    int (*run)(int, char**);
};

// Runs the named command with the arguments after its name; -1 when argv
// names none of them.
template <size_t N>
int RunCommand(const Command (&commands)[N], int argc, char** argv)
{
    if (argc >= 2)
        for (const Command& command : commands)
            if (std::strcmp(argv[1], command.name) == 0) {
                const int code = command.run(argc - 2, argv + 2);
                std::fflush(stdout);
                return code;
            }
    return -1;
}
