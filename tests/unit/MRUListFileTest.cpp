#include "folders/MRUStringList.h"

#include "TestFiles.h"
#include "platform/Errors.h"
#include "platform/File.h"

#include "ListTesting.h"
#include "../../fuzz/MergeDifferential.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using testfiles::ReadBytes;
using testfiles::TempFolder;
using testfiles::WriteBytes;

namespace {

void Fill(TMRUStringList& list, const Strings& indexZeroFirst) {
    for (auto it = indexZeroFirst.rbegin(); it != indexZeroFirst.rend(); ++it) list.Add(*it);
}

class MemoryStream : public Stream {
public:
    explicit MemoryStream(std::string data = "", std::size_t position = 0)
        : data(std::move(data)), position(position) {}

    std::size_t Read(void* buffer, std::size_t size) override {
        if (failRead) throw IOError(1117);
        const std::size_t n = std::min(size, data.size() - position);
        std::memcpy(buffer, data.data() + position, n);
        position += n;
        return n;
    }
    std::size_t Write(const void* bytes, std::size_t size) override {
        const std::size_t n = std::min(size, writeLimit);
        data.replace(position, std::min(n, data.size() - position),
                     static_cast<const char*>(bytes), n);
        position += n;
        return n;
    }

    std::string data;
    std::size_t position;
    bool failRead = false;
    std::size_t writeLimit = static_cast<std::size_t>(-1);
};

} // namespace

TEST(MRUSave, WritesTheBytesOfTheFormat) {
    const struct { ListOrder order; Strings entries; std::string bytes; } table[] = {
        {OrderMRU, {"D:\\Work", "C:\\", "E:\\Music"}, "E:\\Music\r\nC:\\\r\nD:\\Work\r\n"},
        {OrderSort, {"a", "b", ""}, "a\r\nb\r\n\r\n"},
        {OrderRevSort, {"b", "a"}, "b\r\na\r\n"},
        {OrderMRU, {"a\nb", ""}, "\r\na\nb\r\n"},
        {OrderMRU, {}, ""},
    };
    TempFolder folder;
    for (const auto& row : table) {
        TMRUStringList list;
        Fill(list, row.entries);
        list.Order = row.order;
        list.Dirty = true;
        MemoryStream stream("prefix:", 7);
        list.SaveToStream(stream);
        EXPECT_EQ("prefix:" + row.bytes, stream.data);

        list.Dirty = true;
        list.SaveToFile(folder / "list.txt");
        EXPECT_EQ(row.bytes, ReadBytes(folder / "list.txt"));
    }
    EXPECT_EQ(24u, table[0].bytes.size());
}

TEST(MRUSave, OnlyADirtyListWrites) {
    TempFolder folder;
    const std::string name = folder / "list.txt";
    TMRUStringList list;
    Fill(list, {"a", "b"});
    list.Dirty = false;
    list.SaveToFile(name);
    EXPECT_EQ("<missing>", ReadBytes(name)) << "a clean list creates nothing";

    WriteBytes(name, "old\r\n");
    list.SaveToFile(name);
    EXPECT_EQ("old\r\n", ReadBytes(name));

    list.Dirty = true;
    list.SaveToFile(name);
    EXPECT_EQ("b\r\na\r\n", ReadBytes(name));
    EXPECT_FALSE(list.Dirty);
    WriteBytes(name, "changed\r\n");
    list.SaveToFile(name);
    EXPECT_EQ("changed\r\n", ReadBytes(name)) << "the second save writes nothing";

    list.Order = OrderSort;
    list.Dirty = true;
    list.SaveToFile(name);
    EXPECT_TRUE(list.Dirty) << "a sorted list stays dirty";
    WriteBytes(name, "changed\r\n");
    list.SaveToFile(name);
    EXPECT_EQ("a\r\nb\r\n", ReadBytes(name));

    MemoryStream stream;
    list.Order = OrderMRU;
    list.SaveToStream(stream);
    EXPECT_FALSE(list.Dirty);
    stream.data.clear();
    list.SaveToStream(stream);
    EXPECT_EQ("", stream.data);
}

TEST(MRUSave, FailuresRaiseAndLeaveTheListDirty) {
    TempFolder folder;
    TMRUStringList list;
    Fill(list, {"a"});
    const std::string directory = folder.MakeFolder("taken");
    EXPECT_EQ("Cannot create file " + directory, MessageRaisedBy([&] { list.SaveToFile(directory); }));
    const std::string noFolder = (testfiles::fs::path(folder / "missing") / "list.txt").string();
    EXPECT_EQ("Cannot create file " + noFolder, MessageRaisedBy([&] { list.SaveToFile(noFolder); }));
    EXPECT_TRUE(list.Dirty);

    MemoryStream shortStream;
    shortStream.writeLimit = 2;
    EXPECT_EQ("Stream write error", MessageRaisedBy([&] { list.SaveToStream(shortStream); }));
    EXPECT_TRUE(list.Dirty);

#ifdef __linux__
    EXPECT_EQ("Stream write error", MessageRaisedBy([&] { list.SaveToFile("/dev/full"); }));
    EXPECT_TRUE(list.Dirty);
#endif
#ifdef _WIN32
    // Creating needs the file to itself.
    const std::string held = folder / "held.txt";
    WriteBytes(held, "x\r\n");
    {
        auto reader = platform::File::Open(held, platform::File::Mode::ReadSharedRead);
        EXPECT_EQ("Cannot create file " + held, MessageRaisedBy([&] { list.SaveToFile(held); }));
    }
    EXPECT_EQ("x\r\n", ReadBytes(held));
    EXPECT_TRUE(list.Dirty);
#endif
}

// Bytes of a file and the entries they give in an empty list, index 0 first.
TEST(MRULoadFile, ReadsLinesByTheFileRules) {
    const struct { const char* name; std::string bytes; Strings expected; } table[] = {
        {"CR LF, no final end", "a\r\nb\r\nc", {"c", "b", "a"}},
        {"lone CR", "a\rb\r", {"b", "a"}},
        {"LF only is one line", "a\nb\n", {"a\nb\n"}},
        {"Ctrl-Z ends the data", "a\r\nb\x1A" "c\r\n", {"b", "a"}},
        {"Ctrl-Z after a line end", "a\r\n\x1A" "b", {"a"}},
        {"blank lines", "a\r\n\r\nb\r\n", {"b", "", "a"}},
        {"CR CR LF", "a\r\r\nb", {"b", "", "a"}},
        {"LF after CR LF", "a\r\n\nb", {"\nb", "a"}},
        {"only a line end", "\r\n", {""}},
        {"empty file", "", {}},
        {"only Ctrl-Z", "\x1A", {}},
        {"NUL is a character", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
        {"equal lines merge", "X\r\nY\r\nx\r\n", {"x", "Y"}},
    };
    TempFolder folder;
    for (const auto& row : table) {
        WriteBytes(folder / "in.txt", row.bytes);
        TMRUStringList list;
        list.SetMaxStrings(100);
        list.LoadFromFile(folder / "in.txt");
        EXPECT_EQ(row.expected, Entries(list)) << row.name;
        EXPECT_FALSE(list.Loading) << row.name;
    }
}

TEST(MRULoadFile, LineEndsAcrossTheReadBuffer) {
    TempFolder folder;
    for (std::size_t length : {4094u, 4095u, 4096u, 8191u, 10000u}) {
        const std::string longLine(length, 'x');
        const struct { std::string bytes; Strings expected; } table[] = {
            {longLine + "\r\ny\r\n", {"y", longLine}},
            {longLine + "\ry", {"y", longLine}},
            {longLine + "\r\n\ny", {"\ny", longLine}},
            {longLine + "\x1Ay", {longLine}},
            {longLine, {longLine}},
        };
        for (const auto& row : table) {
            WriteBytes(folder / "in.txt", row.bytes);
            TMRUStringList list;
            list.LoadFromFile(folder / "in.txt");
            EXPECT_EQ(row.expected, Entries(list)) << length;
        }
    }
}

TEST(MRULoadFile, MergesThroughAddWithoutClearing) {
    TempFolder folder;
    const std::string name = folder / "list.txt";
    TMRUStringList list;
    Fill(list, {"c:\\one", "C:\\two", "C:\\three"});
    list.Dirty = true;
    list.SaveToFile(name);
    list.LoadFromFile(name);
    EXPECT_EQ((Strings{"c:\\one", "C:\\two", "C:\\three"}), Entries(list));
    EXPECT_TRUE(list.Dirty) << "each line moved its entry";

    WriteBytes(name, "C:\\TWO\r\nnew\r\n");
    list.LoadFromFile(name);
    EXPECT_EQ((Strings{"new", "C:\\TWO", "c:\\one", "C:\\three"}), Entries(list));

    // Sixteen entries saved under a limit of 16 come back as 15.
    TMRUStringList full;
    full.SetMaxStrings(17);
    for (int i = 0; i < 16; ++i) full.Add("s" + std::to_string(i));
    full.SetMaxStrings(16);
    full.SaveToFile(name);
    TMRUStringList loaded;
    loaded.LoadFromFile(name);
    ASSERT_EQ(15, loaded.Count());
    EXPECT_EQ("s15", loaded.Get(0));
    EXPECT_EQ("s1", loaded.Get(14));
}

TEST(MRULoadFile, RoundTrips) {
    TempFolder folder;
    const std::string name = folder / "list.txt";
    TMRUStringList list;
    Fill(list, {"C:\\Program Files\\x", "", "a\nb", "D:\\", std::string(5000, 'p')});
    list.SaveToFile(name);
    TMRUStringList back;
    back.LoadFromFile(name);
    EXPECT_EQ(Entries(list), Entries(back));

    list.Order = OrderSort;
    list.Dirty = true;
    list.Sort();
    list.SaveToFile(name);
    TMRUStringList reversed;
    reversed.LoadFromFile(name);
    Strings expected = Entries(list);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(expected, Entries(reversed));
}

TEST(MRULoadFile, NamesThatAreNoFileChangeNothing) {
    TempFolder folder;
    TMRUStringList list;
    Fill(list, {"a"});
    list.Dirty = false;
    const std::string inMissingFolder = (testfiles::fs::path(folder / "no") / "list.txt").string();
    for (const std::string& name :
         {folder.MakeFolder("dir"), folder / "missing.txt", inMissingFolder, std::string()}) {
        list.LoadFromFile(name);
        EXPECT_EQ((Strings{"a"}), Entries(list)) << name;
        EXPECT_FALSE(list.Dirty) << name;
        EXPECT_FALSE(list.Loading) << name;
    }
}

// The whole name is opened, never its first 259 characters.
TEST(MRULoadFile, OpensTheWholeOfALongName) {
    TempFolder folder;
    std::string base = folder / "x";
    base.pop_back();
    const std::string cut = base + std::string(259 - base.size(), 'f');
    const std::string longName = cut + "-long.txt";
    WriteBytes(cut, "cut\r\n");
    TMRUStringList list;
#ifdef _WIN32
    // The whole name is looked for (the ANSI calls would refuse it, 206),
    // and it is not there.
    try {
        platform::File::Open(longName, platform::File::Mode::ReadSharedRead);
        ADD_FAILURE() << "opened";
    } catch (const IOError& error) {
        EXPECT_EQ(2u, error.Code());
    }
    list.LoadFromFile(longName);
    EXPECT_EQ(0, list.Count());
#else
    WriteBytes(longName, "long\r\n");
    list.LoadFromFile(longName);
    EXPECT_EQ((Strings{"long"}), Entries(list));
#endif
}

TEST(MRULoadFile, AReadErrorReachesTheCallerAndEndsLoading) {
    TMRUStringList list;
    Fill(list, {"kept"});
#ifdef _WIN32
    TempFolder folder;
    const std::string name = folder / "held.txt";
    WriteBytes(name, "a\r\n");
    auto writer = platform::File::Open(name, platform::File::Mode::CreateShareRead);
#else
    // Reading at offset 0 of the process's own memory fails.
    const std::string name = "/proc/self/mem";
#endif
    try {
        list.LoadFromFile(name);
        ADD_FAILURE() << "no error";
    } catch (const IOError& error) {
#ifdef _WIN32
        EXPECT_EQ(32u, error.Code()) << "sharing violation";
        EXPECT_STREQ("I/O error 32", error.what());
#else
        EXPECT_EQ(1117u, error.Code());
#endif
    }
    EXPECT_FALSE(list.Loading);
    EXPECT_EQ((Strings{"kept"}), Entries(list));
}

// Under Windows the comparison is the system's: letters of other alphabets
// pair up and some characters count for nothing.
TEST(MRULoadFile, MergesAsAddingTheLinesOneByOne) {
    std::mt19937 random(14);
    for (int round = 0; round < 1500; ++round) {
        std::vector<std::uint8_t> bytes(8 + random() % 120);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        // Files long enough for several windows of the merge: a few under
        // Windows, where each comparison of the Adds is a system call.
#ifdef _WIN32
        const int repeats = round % 500 == 0 ? 1200 : 1;
#else
        const int repeats = round % 100 == 0 ? 1200 : 1;
#endif
        EXPECT_EQ("", merge_differential::Check(bytes.data(), bytes.size(), repeats)) << "round " << round;
    }
}

TEST(MRULoadFile, AReadErrorKeepsTheCompleteLinesBeforeIt) {
    const struct { const char* name; std::string bytes; std::size_t failAt; Strings expected; } table[] = {
        {"partial line", "a\r\nb\r\npar", 9, {"b", "a", "kept"}},
        {"CR last read", "a\r\nb\r", 5, {"b", "a", "kept"}},
        {"equal lines", "x\r\nKEPT\r\nkept\r\nc", 16, {"KEPT", "x"}},
        {"at once", "a\r\n", 0, {"kept"}},
    };
    for (const auto& row : table) {
        TMRUStringList list;
        Fill(list, {"kept"});
        list.Dirty = false;
        const std::vector<std::size_t> pieces = {3};
        merge_differential::PieceStream stream(row.bytes, pieces, row.failAt);
        EXPECT_EQ("I/O error 1117", MessageRaisedBy([&] { list.MergeFromStream(stream); })) << row.name;
        EXPECT_EQ(row.expected, Entries(list)) << row.name;
        EXPECT_EQ(row.failAt > 0, list.Dirty) << row.name;
    }
}

#ifndef _WIN32
// What one list proved holds for another only under the same comparison.
TEST(MRULoadFile, ProofsTakenFromAnotherListHoldUnderTheirComparisonOnly) {
    merge_differential::CaseRule rule;
    for (const bool changed : {false, true}) {
        rule.Ignore(false);
        TMRUStringList scratch, list;
        MemoryStream first("a\r\nA\r\n");
        scratch.MergeFromStream(first);
        rule.Ignore(changed);
        list.TakeProofs(scratch);
        MemoryStream again("a\r\nA\r\n");
        list.MergeFromStream(again);
        EXPECT_EQ(changed ? Strings({"a"}) : Strings({"A", "a"}), Entries(list)) << changed;
    }
}
#endif

TEST(MRULoadStream, ReadsLinesByTheStreamRules) {
    const struct { const char* name; std::string bytes; Strings expected; } table[] = {
        {"CR LF, CR and LF", "a\r\nb\rc\nd", {"d", "c", "b", "a"}},
        {"final line end", "a\r\n", {"a"}},
        {"blank line", "\nx\r\n", {"x", ""}},
        {"NUL ends the data", std::string("a\r\nb\0c\r\n", 8), {"b", "a"}},
        {"Ctrl-Z is a character", "a\x1A" "b", {"a\x1A" "b"}},
        {"empty", "", {}},
    };
    for (const auto& row : table) {
        TMRUStringList list;
        Fill(list, {"old"});
        list.Dirty = false;
        MemoryStream stream("skip" + row.bytes, 4);
        list.LoadFromStream(stream);
        EXPECT_EQ(row.expected, Entries(list)) << row.name;
        EXPECT_TRUE(list.Dirty) << row.name;
        EXPECT_FALSE(list.Loading) << row.name;
        EXPECT_EQ(stream.data.size(), stream.position) << row.name;
    }
}

TEST(MRULoadStream, AStreamErrorKeepsTheEntries) {
    TMRUStringList list;
    Fill(list, {"a", "b"});
    list.Dirty = false;
    MemoryStream stream("x\r\n");
    stream.failRead = true;
    EXPECT_EQ("I/O error 1117", MessageRaisedBy([&] { list.LoadFromStream(stream); }));
    EXPECT_EQ((Strings{"a", "b"}), Entries(list));
    EXPECT_TRUE(list.Dirty) << "the bulk operation still closes";
    EXPECT_FALSE(list.Loading);
    // The bracket closed: later changes notify again.
    list.Dirty = false;
    list.Add("c");
    EXPECT_TRUE(list.Dirty);
}
