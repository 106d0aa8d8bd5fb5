#include "export/ExportNames.h"

#include <gtest/gtest.h>

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
    for (const auto& row : table) {
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
}
