// Real files and folders for the tests of the list file and the folder list.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define FOLDERLANE_TEST_PID _getpid()
#else
#include <unistd.h>
#define FOLDERLANE_TEST_PID getpid()
#endif

namespace testfiles {

namespace fs = std::filesystem;

// A fresh folder for the running test, removed with its content. The process
// id keeps test runs of several build trees apart.
class TempFolder {
public:
    TempFolder() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                ("folderlane-" + std::to_string(FOLDERLANE_TEST_PID) + "-" +
                 test->test_suite_name() + "-" + test->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    std::string MakeFolder(const std::string& name) const {
        fs::create_directories(path_ / name);
        return *this / name;
    }

private:
    fs::path path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    EXPECT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
}

// The file's bytes; "<missing>" when it cannot be opened.
inline std::string ReadBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    std::string bytes;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

} // namespace testfiles
