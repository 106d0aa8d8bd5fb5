// The pruning's existence tests. An unreachable network share can take many
// seconds to answer: such paths are tested side by side, so that several of
// them cost one wait. Local paths answer at once and need no thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The test itself, and which paths may answer slowly. The benchmark puts
// stand-ins here; the agent never changes them.
extern bool (*FolderExists)(const std::string& path);
extern bool (*MayAnswerSlowly)(const std::string& path);

// For each path, whether it is an existing folder; the same answers, in the
// same order, as testing one after the other. Paths after the one that makes
// `enough` existing local folders are not tested, and answer 0.
std::vector<char> TestFoldersExist(const std::vector<std::string>& paths, std::size_t enough = SIZE_MAX);
