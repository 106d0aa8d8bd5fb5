// What both platforms share of File.h: walking an ANSI path by characters.
#include "platform/File.h"

namespace platform {

std::size_t NameStart(std::string_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == ':')
            start = i + 1;
        else if (IsLeadByte(path[i]) && i + 1 < path.size())
            ++i;
    }
    return start;
}

} // namespace platform
