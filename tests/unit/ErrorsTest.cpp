#include "platform/Errors.h"

#include <gtest/gtest.h>

TEST(IOError, CarriesTheSystemCodeAndItsMessage) {
    const struct { unsigned code; const char* message; } table[] = {
        {2, "File not found"},     {3, "Invalid filename"},
        {4, "Too many open files"}, {5, "File access denied"},
        {100, "Read beyond end of file"}, {101, "Disk full"},
        {106, "Invalid numeric input"}, {32, "I/O error 32"},
        {112, "I/O error 112"},     {0, "I/O error 0"},
    };
    for (const auto& row : table) {
        IOError error(row.code);
        EXPECT_EQ(row.code, error.Code());
        EXPECT_STREQ(row.message, error.what()) << row.code;
    }
}
