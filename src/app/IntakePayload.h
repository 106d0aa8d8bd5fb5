// The folder path carried by another process's WM_COPYDATA. Portable, so
// that it can be fuzzed natively.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t INTAKE_PATH_MAX = 260;

// Reused by every intake: 260 path bytes and a terminating zero.
extern char IntakeBuffer[INTAKE_PATH_MAX + 1];

// Takes the path up to the first zero byte (or all the bytes) through
// IntakeBuffer. False, with nothing taken, for a path longer than 260 bytes
// (cutting it would name another folder) or a missing payload.
bool TakeIntakePayload(const void* data, std::size_t size, std::string& path);
