#include "export/ExportNames.h"

std::string ExportInitialFolder(const std::string& documents) {
    const std::size_t n = documents.size();
    if (n > 1 && documents[n - 1] == '\\' && documents[n - 2] != ':') return documents.substr(0, n - 1);
    return documents;
}

std::string ExportExtension(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\:");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return std::string();
    std::string extension = path.substr(dot);
    // Only A to Z: other bytes of the ANSI code page stay as they are.
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

bool IsVantroName(const std::string& path) {
    return ExportExtension(path) == ".vtr";
}
