// The pruning's existence tests, run side by side: an unreachable share can
// take many seconds to answer, and several of them should cost one wait.
#pragma once

#include <string>
#include <vector>

// The test itself; the benchmark puts a slow one here, the agent never
// changes it.
extern bool (*FolderExists)(const std::string& path);

// For each path, whether it is an existing folder; the same answers, in the
// same order, as testing one after the other.
std::vector<char> TestFoldersExist(const std::vector<std::string>& paths);
