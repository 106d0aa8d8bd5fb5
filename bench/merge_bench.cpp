// Times the merge of a FolderList.txt into a list of 26, as the menu does it,
// against a plain read of the same file through the same 4096-byte buffer.
// The merge must stay linear in the file's size and flat in memory.
//
//   merge_bench [folder]   (the files are written there and removed again)
//   merge_bench folder LINES ROUNDS
//       one size only, raw read and merge alternating for ROUNDS rounds, one
//       sample a line: "merge_raw|merge_merge <round> <seconds>", before
//       them "merge_base_kb <lines> <peak memory>" and after them
//       "merge_peak_kb <lines> <peak memory>" (run it once per size: the
//       peak is the process's)
#include "folders/MRUStringList.h"
#include "platform/File.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

namespace {

double PeakMemoryMB() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return counters.PeakWorkingSetSize / (1024.0 * 1024.0);
#else
    // The high-water mark of this program's own memory: getrusage's maximum
    // would carry over the parent's from before the exec.
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    double kilobytes = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %lf", &kilobytes) == 1) break;
    std::fclose(status);
    return kilobytes / 1024.0;
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

// The benchmark script's form: samples of alternating rounds.
int RunRounds(const std::string& folder, unsigned long lines, int rounds) {
    std::printf("merge_base_kb %lu %.0f\n", lines, PeakMemoryMB() * 1024);
    const std::string name = folder + "merge_bench_" + std::to_string(lines) + ".txt";
    WriteFolderList(name, lines);
    for (int round = 1; round <= rounds; ++round) {
        unsigned long lineEnds = 0;
        const double raw = Seconds([&] { lineEnds = ReadRaw(name); });
        TMRUStringList list;
        list.SetMaxStrings(26);
        const double merge = Seconds([&] { list.LoadFromFile(name); });
        if (lineEnds != lines || list.Count() != 25) {
            std::fprintf(stderr, "unexpected result: %lu lines read, %d entries\n", lineEnds, list.Count());
            platform::RemoveFile(name);
            return 1;
        }
        std::printf("merge_raw %d %.6f\nmerge_merge %d %.6f\n", round, raw, round, merge);
    }
    platform::RemoveFile(name);
    std::printf("merge_peak_kb %lu %.0f\n", lines, PeakMemoryMB() * 1024);
    return 0;
}

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? std::string(argv[1]) + "/" : std::string();
    if (argc == 4) return RunRounds(folder, std::strtoul(argv[2], nullptr, 10), std::atoi(argv[3]));
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
