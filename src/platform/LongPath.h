// The form of a path that the wide calls take far beyond MAX_PATH. Win32
// only: the platform layer's files and the shell's opens share it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace platform {

// A path in the ANSI code page, as the user gave it, for a wide call. A
// full path up to MAX_PATH goes as it is, which the system normalises
// itself; any other is made full first and goes behind \\?\,
// since the prefix turns off the system's own normalising ('/', "..", a
// trailing dot). One that already has the prefix, or a device's name
// (\\.\COM1), goes as it is; so does a name the system cannot make full,
// for the call to refuse.
class LongPath {
public:
    explicit LongPath(const std::string& path);
    operator const wchar_t*() const { return text_.get() + start_; }

private:
    // \\?\UNC\server is \\server and six more.
    static constexpr std::size_t ROOM = 6;
    std::unique_ptr<wchar_t[]> text_;
    std::size_t start_ = 0;
};

} // namespace platform
