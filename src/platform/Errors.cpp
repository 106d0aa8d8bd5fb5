#include "platform/Errors.h"

#include <cstdarg>
#include <cstdio>

// Not inlined, so that the return address is the place that raised the error.
__attribute__((noinline)) Error::Error(std::string message)
    : message_(std::move(message)), address_(__builtin_return_address(0)) {}

IOError::IOError(unsigned code) : Error(IOErrorMessage(code)), code_(code) {}

IOError::IOError(unsigned code, std::string message) : Error(std::move(message)), code_(code) {}

std::string IOErrorMessage(unsigned code) {
    switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return Format("I/O error %u", code);
    }
}

std::string Format(const char* format, ...) {
    // Grows until the text fits: some C libraries answer -1 to a short
    // buffer instead of the size they need.
    std::string text(256, '\0');
    for (;;) {
        va_list args;
        va_start(args, format);
#ifdef _WIN32
        // The C library's own: MinGW's C99 one weighs some 20 KB. It answers
        // -1, or leaves out the NUL, when the text just fits or does not.
        const int size = _vsnprintf(&text[0], text.size(), format, args);
#else
        const int size = std::vsnprintf(&text[0], text.size(), format, args);
#endif
        va_end(args);
        if (size >= 0 && static_cast<size_t>(size) < text.size()) {
            text.resize(size);
            return text;
        }
        text.resize(size >= 0 ? size + 1 : text.size() * 2);
    }
}
