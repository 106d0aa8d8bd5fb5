// Replays fuzz inputs (files, or folders of them) without libFuzzer, so that
// the committed corpora and crash inputs run as regression cases everywhere.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int Replay(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
    if (S_ISDIR(info.st_mode)) {
        int count = 0;
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.') count += Replay(path + "/" + entry->d_name);
            closedir(dir);
        }
        return count;
    }
    std::vector<uint8_t> bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(file);
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s NAME INPUT...\n", argv[0]);
        return 2;
    }
    int count = 0;
    for (int i = 2; i < argc; ++i) count += Replay(argv[i]);
    std::printf("%s: replayed %d inputs\n", argv[1], count);
    // Reaching here means no input crashed; report it like the other suites.
    if (const char* xml = std::getenv("FUZZ_REPLAY_XML")) {
        if (FILE* out = std::fopen(xml, "w")) {
            std::fprintf(out, "<testsuite name=\"fuzz-replay\"><testcase classname=\"fuzz-replay\" name=\"%s\"/>"
                              "</testsuite>\n", argv[1]);
            std::fclose(out);
        }
    }
    return count > 0 ? 0 : 1;
}
