// Arbitrary bytes through LoadFromFile and LoadFromStream, checked against
// line splitting written here from the format's rules.
#include "FuzzCheck.h"
#include "MergeDifferential.h"
#include "folders/MRUStringList.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Stream rules: CR LF, a lone CR or a lone LF ends a line; NUL ends the data.
std::vector<std::string> StreamLines(const std::string& data) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (size_t i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '\0') break;
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            continue;
        }
        line += c;
        open = true;
    }
    if (open) lines.push_back(line);
    return lines;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

// Each line to the top, as the list's Add does outside sorted mode.
std::vector<std::string> AddAll(std::vector<std::string> entries, const std::vector<std::string>& lines, int max) {
    for (const auto& line : lines) {
        size_t found = 0;
        while (found < entries.size() && !SameText(entries[found], line)) ++found;
        if (found == 0 && !entries.empty()) continue;
        const bool isNew = found == entries.size();
        if (!isNew) entries.erase(entries.begin() + found);
        entries.insert(entries.begin(), line);
        if (isNew && static_cast<int>(entries.size()) >= max) entries.pop_back();
    }
    return entries;
}

std::vector<std::string> Entries(const TMRUStringList& list) {
    std::vector<std::string> entries;
    for (int i = 0; i < list.Count(); ++i) entries.push_back(list.Get(i));
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int max = 1 + data[0] % 40;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> seed = {"C:\\", "d:\\Work"};

    static const std::string path = "/tmp/folderlane-fuzz-" + std::to_string(getpid()) + ".txt";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    TMRUStringList fromFile;
    for (auto it = seed.rbegin(); it != seed.rend(); ++it) fromFile.Add(*it);
    fromFile.SetMaxStrings(max);
    const std::vector<std::string> before = Entries(fromFile);
    fromFile.Dirty = false;
    fromFile.LoadFromFile(path);
    std::remove(path.c_str());
    bool ctrlZ;
    const std::vector<std::string> lines = merge_differential::FileLines(bytes, false, ctrlZ);
    FUZZ_CHECK(Entries(fromFile) == AddAll(before, lines, max));
    FUZZ_CHECK(!fromFile.Loading);

    TMRUStringList fromStream;
    fromStream.SetMaxStrings(max);
    fromStream.Add("old entry");
    const std::vector<size_t> whole = {4096};
    merge_differential::PieceStream stream(bytes, whole, bytes.size() + 1);
    fromStream.LoadFromStream(stream);
    FUZZ_CHECK(Entries(fromStream) == AddAll({}, StreamLines(bytes), max));
    FUZZ_CHECK(fromStream.Dirty);
    FUZZ_CHECK(!fromStream.Loading);

    const std::string difference = merge_differential::Check(data + 1, size - 1, data[0] % 8 == 0 ? 100 : 1);
    if (!difference.empty()) std::fprintf(stderr, "%s\n", difference.c_str());
    FUZZ_CHECK(difference.empty());
    return 0;
}
