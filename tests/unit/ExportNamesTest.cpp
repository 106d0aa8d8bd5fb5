#include "export/ExportNames.h"

#include "platform/File.h"

#include <gtest/gtest.h>

namespace {

// Rows in code page 932, where "\x95\x5C" is one character and "\x83\x56" another:
// natively the platform stands in with that code page; under Windows only
// where the ANSI code page is 932.
bool InCodePage932() { return platform::IsLeadByte('\x95') && !platform::IsLeadByte('\xC4'); }

} // namespace

TEST(ExportNames, ExtensionLooksOnlyAfterTheLastSeparator) {
    const struct { const char* path; const char* extension; bool vantro; } table[] = {
        {"C:\\Docs\\FolderExport.vtr", ".vtr", true},
        {"C:\\Docs\\List.VTR", ".vtr", true},
        {"C:\\Docs\\List.Vtr", ".vtr", true},
        {"C:\\Docs\\List.vtx", ".vtx", false},
        {"C:\\Docs\\List.txt", ".txt", false},
        {"C:\\Docs\\List.vtr.txt", ".txt", false},
        {"C:\\Docs\\List", "", false},
        {"C:\\My.Folders\\List", "", false},
        {"C:\\My.Folders\\List.", ".", false},
        {"C:List.VTR", ".vtr", true},
        {"C:.vtr\\x", "", false},
        {"D:\\a.b:stream", "", false},
        {".vtr", ".vtr", true},
        {"C:\\Docs\\List.vtr ", ".vtr ", false},
        // Only A to Z are lowered.
        {"C:\\Docs\\List.\xC4VTR", ".\xC4vtr", false},
    };
    const struct { const char* path; const char* extension; bool vantro; } table932[] = {
        {"C:\\Docs\\List.\x95\x5C", ".\x95\x5C", false},
        {"C:\\Docs\\List.\x83\x56TR", ".\x83\x56tr", false},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.extension, ExportExtension(row.path)) << row.path;
        EXPECT_EQ(row.vantro, IsVantroName(row.path)) << row.path;
    }
    if (!InCodePage932()) return;
    for (const auto& row : table932) {
        EXPECT_EQ(row.extension, ExportExtension(row.path)) << row.path;
        EXPECT_EQ(row.vantro, IsVantroName(row.path)) << row.path;
    }
}

TEST(ExportNames, InitialFolderDropsOneTrailingBackslash) {
    const struct { const char* documents; const char* folder; } table[] = {
        {"C:\\Users\\me\\Documents", "C:\\Users\\me\\Documents"},
        {"C:\\Users\\me\\Documents\\", "C:\\Users\\me\\Documents"},
        {"C:\\Users\\me\\Documents\\\\", "C:\\Users\\me\\Documents\\"},
        {"C:\\", "C:\\"},
        {"D:\\", "D:\\"},
        {"\\", "\\"},
        {"", ""},
        {"\\\\server\\share\\", "\\\\server\\share"},
    };
    for (const auto& row : table) EXPECT_EQ(row.folder, ExportInitialFolder(row.documents)) << row.documents;
    const struct { const char* documents; const char* folder; } table932[] = {
        {"C:\\\x8E\x91\x97\xBF\x95\x5C", "C:\\\x8E\x91\x97\xBF\x95\x5C"},
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C"},
        {"\x95\x5C", "\x95\x5C"},
    };
    if (!InCodePage932()) return;
    for (const auto& row : table932) EXPECT_EQ(row.folder, ExportInitialFolder(row.documents)) << row.documents;
}
