// Times the merge of a FolderList.txt into a list of 26, as the menu does it,
// against a plain read of the same file through the same 4096-byte buffer.
// The merge must stay linear in the file's size and flat in memory.
//
//   merge_bench [folder]   (the files are written there and removed again)
#include "folders/MRUStringList.h"
#include "platform/File.h"

#include <chrono>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

namespace {

double PeakMemoryMB() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return counters.PeakWorkingSetSize / (1024.0 * 1024.0);
#else
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
#endif
}

template <typename Work>
double Seconds(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Distinct folders, so that every line is a new entry: the slowest merge.
unsigned long WriteFolderList(const std::string& name, unsigned long lines) {
    platform::File file = platform::File::Open(name, platform::File::Mode::CreateShareRead);
    std::string chunk;
    unsigned long bytes = 0;
    char line[64];
    for (unsigned long i = 0; i < lines; ++i) {
        const int n = std::snprintf(line, sizeof line, "C:\\Projects\\Folder %07lu\\Source\r\n", i);
        chunk.append(line, n);
        if (chunk.size() >= 65536 || i + 1 == lines) {
            bytes += file.Write(chunk.data(), chunk.size());
            chunk.clear();
        }
    }
    file.Close();
    return bytes;
}

unsigned long ReadRaw(const std::string& name) {
    platform::File file = platform::File::Open(name, platform::File::Mode::ReadSharedRead);
    char buffer[4096];
    unsigned long lineEnds = 0;
    while (const std::size_t n = file.Read(buffer, sizeof buffer))
        for (std::size_t i = 0; i < n; ++i) lineEnds += buffer[i] == '\r';
    file.Close();
    return lineEnds;
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? std::string(argv[1]) + "/" : std::string();
    std::printf("%10s %12s %10s %10s %8s %14s\n", "lines", "bytes", "raw s", "merge s", "ratio",
                "peak memory MB");
    std::printf("%10s %12s %10s %10s %8s %14.1f (before)\n", "", "", "", "", "", PeakMemoryMB());
    for (unsigned long lines : {1000ul, 1000000ul}) {
        const std::string name = folder + "merge_bench_" + std::to_string(lines) + ".txt";
        const unsigned long bytes = WriteFolderList(name, lines);

        unsigned long lineEnds = 0;
        const double raw = Seconds([&] { lineEnds = ReadRaw(name); });
        TMRUStringList list;
        list.SetMaxStrings(26);
        const double merge = Seconds([&] { list.LoadFromFile(name); });
        platform::RemoveFile(name);

        if (lineEnds != lines || list.Count() != 25 || list.Get(0).find("Folder") == std::string::npos) {
            std::fprintf(stderr, "unexpected result: %lu lines read, %d entries\n", lineEnds, list.Count());
            return 1;
        }
        std::printf("%10lu %12lu %10.4f %10.4f %8.1f %14.1f\n", lines, bytes, raw, merge,
                    raw > 0 ? merge / raw : 0.0, PeakMemoryMB());
    }
    return 0;
}
