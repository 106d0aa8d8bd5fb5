#include "export/ExportNames.h"

#include "platform/File.h"

// In double-byte code pages the second byte of a character can be 0x5C:
// the separators are found by characters (NameStart), never by bytes.

std::string ExportInitialFolder(const std::string& documents) {
    const std::size_t n = documents.size();
    if (n > 1 && platform::NameStart(documents) == n && documents[n - 1] == '\\' && documents[n - 2] != ':')
        return documents.substr(0, n - 1);
    return documents;
}

std::string ExportExtension(const std::string& path) {
    // A '.' is never the second byte of a character.
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < platform::NameStart(path)) return std::string();
    std::string extension = path.substr(dot);
    // Only A to Z: other characters of the ANSI code page stay as they are,
    // the second bytes of double-byte ones too.
    for (std::size_t i = 0; i < extension.size(); ++i) {
        char& c = extension[i];
        if (platform::IsLeadByte(c))
            ++i;
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

bool IsVantroName(const std::string& path) {
    return ExportExtension(path) == ".vtr";
}
