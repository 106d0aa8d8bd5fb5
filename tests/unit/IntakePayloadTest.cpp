#include "app/IntakePayload.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Taken {
    bool accepted;
    std::string path;
};

Taken Take(const std::string& bytes) {
    Taken taken{false, "unchanged"};
    taken.accepted = TakeIntakePayload(bytes.data(), bytes.size(), taken.path);
    return taken;
}

} // namespace

TEST(IntakePayload, TakesThePathUpToTheFirstZeroByte) {
    const struct { std::string payload; std::string path; } table[] = {
        {"C:\\Work", "C:\\Work"},
        {std::string("C:\\Work\0", 8), "C:\\Work"},
        {std::string("C:\\A\0C:\\B", 9), "C:\\A"},
        {std::string("\0C:\\B", 5), ""},
        {"", ""},
        {"D:\\\xE4\xF6\xFC", "D:\\\xE4\xF6\xFC"},
        {std::string(260, 'x'), std::string(260, 'x')},
        // The path counts, not the payload: a long tail after the zero is fine.
        {std::string(10, 'y') + std::string(1, '\0') + std::string(400, 'z'), std::string(10, 'y')},
        {std::string(260, 'x') + std::string(1, '\0') + "tail", std::string(260, 'x')},
    };
    for (const auto& row : table) {
        Taken taken = Take(row.payload);
        EXPECT_TRUE(taken.accepted) << row.path;
        EXPECT_EQ(row.path, taken.path);
        EXPECT_EQ(row.path, std::string(IntakeBuffer)) << "the buffer holds the path, terminated";
    }
}

TEST(IntakePayload, RefusesPathsThatWouldHaveToBeCut) {
    for (std::size_t size : {261u, 262u, 400u, 1000u}) {
        std::string payload(size, 'p');
        Taken taken = Take(payload);
        EXPECT_FALSE(taken.accepted) << size;
        EXPECT_EQ("unchanged", taken.path);
    }
    std::string path;
    EXPECT_FALSE(TakeIntakePayload(nullptr, 5, path));
    EXPECT_TRUE(TakeIntakePayload(nullptr, 0, path));
    EXPECT_EQ("", path);
}
