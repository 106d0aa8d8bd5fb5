#include "folders/MRUStringList.h"

#include "platform/Errors.h"
#include "platform/File.h"

#include "ListTesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>


namespace {

// Fills a list so that it holds the strings in the given order, index 0
// first, and is clean.
void Fill(TMRUStringList& list, const Strings& indexZeroFirst) {
    list.SetMaxStrings(static_cast<int>(indexZeroFirst.size()) + 1);
    for (auto it = indexZeroFirst.rbegin(); it != indexZeroFirst.rend(); ++it) list.Add(*it);
    list.Dirty = false;
}

} // namespace

TEST(MRUAdd, KeepsAtMostMaxStringsMinusOneNewestFirst) {
    TMRUStringList list;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, list.Add("s" + std::to_string(i)));
    ASSERT_EQ(15, list.Count());
    EXPECT_EQ("s15", list.Get(0));
    EXPECT_EQ("s1", list.Get(14));
    EXPECT_EQ(-1, list.IndexOf("s0"));
}

TEST(MRUAdd, MovesAnEqualEntryToTheTopWithTheNewSpelling) {
    TMRUStringList list;
    Fill(list, {"a", "b", "c", "C:\\Temp", "e"});
    list.Add("c:\\TEMP");
    EXPECT_EQ((Strings{"c:\\TEMP", "a", "b", "c", "e"}), Entries(list));
    EXPECT_TRUE(list.Dirty);

    list.Dirty = false;
    EXPECT_EQ(0, list.Add("C:\\temp"));
    EXPECT_EQ("c:\\TEMP", list.Get(0)) << "the entry at the top keeps its spelling";
    EXPECT_FALSE(list.Dirty);
}

TEST(MRUAdd, AtTheLimitTheNewStringPushesOutTheLast) {
    TMRUStringList list;
    list.SetMaxStrings(30);
    for (int i = 0; i < 20; ++i) list.Add("s" + std::to_string(i));
    list.SetMaxStrings(16);
    ASSERT_EQ(16, list.Count());
    EXPECT_EQ("s4", list.Get(15));
    list.Add("new");
    EXPECT_EQ(16, list.Count());
    EXPECT_EQ("new", list.Get(0));
    EXPECT_EQ("s5", list.Get(15));

    TMRUStringList single;
    single.SetMaxStrings(1);
    EXPECT_EQ(0, single.Add("x"));
    EXPECT_EQ(0, single.Count());
}

TEST(MRUMaxStrings, TrimsFromTheEndAndIgnoresValuesBelowOne) {
    const struct { int value; int expectedMax; int expectedCount; bool dirty; } table[] = {
        {0, 16, 8, false}, {-5, 16, 8, false}, {8, 8, 8, false},
        {5, 5, 5, true},   {1, 1, 1, true},    {40, 40, 8, false},
    };
    for (const auto& row : table) {
        TMRUStringList list;
        Fill(list, {"a", "b", "c", "d", "e", "f", "g", "h"});
        list.SetMaxStrings(16);
        list.SetMaxStrings(row.value);
        EXPECT_EQ(row.expectedMax, list.MaxStrings()) << row.value;
        EXPECT_EQ(row.expectedCount, list.Count()) << row.value;
        EXPECT_EQ(row.dirty, list.Dirty) << row.value;
        if (list.Count() > 0) {
            EXPECT_EQ("a", list.Get(0)) << row.value;
        }
    }
}

TEST(MRUErrors, RefusedOperationsCarryTheirMessageAndChangeNothing) {
    TMRUStringList list;
    Fill(list, {"a", "b", "c"});
    EXPECT_EQ("List index out of bounds (3)", MessageRaisedBy<ListError>([&] { list.Get(3); }));
    EXPECT_EQ("List index out of bounds (-1)", MessageRaisedBy<ListError>([&] { list.Get(-1); }));
    EXPECT_EQ("List index out of bounds (3)", MessageRaisedBy<ListError>([&] { list.Delete(3); }));
    EXPECT_EQ("List index out of bounds (-2)", MessageRaisedBy<ListError>([&] { list.Insert(-2, "x"); }));
    EXPECT_EQ("List index out of bounds (4)", MessageRaisedBy<ListError>([&] { list.Insert(4, "x"); }));
    EXPECT_EQ((Strings{"a", "b", "c"}), Entries(list));
    EXPECT_FALSE(list.Dirty);

    list.Insert(3, "d"); // Count itself is a valid place
    EXPECT_EQ("d", list.Get(3));

    TMRUStringList sorted;
    sorted.Order = OrderSort;
    sorted.SetSorted(true);
    sorted.Add("b");
    EXPECT_EQ("Operation not allowed on sorted string list",
              MessageRaisedBy<ListError>([&] { sorted.Insert(0, "a"); }));
    // In sorted mode the refusal comes before the index check.
    EXPECT_EQ("Operation not allowed on sorted string list",
              MessageRaisedBy<ListError>([&] { sorted.Insert(9, "a"); }));
    sorted.Duplicates = DuplicatesMode::Reject;
    EXPECT_EQ("String list does not allow duplicates", MessageRaisedBy<ListError>([&] { sorted.Add("B"); }));
    EXPECT_EQ((Strings{"b"}), Entries(sorted));
}

TEST(MRUSorted, AddKeepsTheOrderAndHonoursDuplicates) {
    const struct {
        ListOrder order; DuplicatesMode duplicates; Strings expected; int addIndex; int indexOfC;
    } table[] = {
        {OrderSort, DuplicatesMode::Ignore, {"a", "B", "c", "d"}, 1, 2},
        {OrderSort, DuplicatesMode::Accept, {"a", "b", "B", "c", "d"}, 1, 3},
        {OrderRevSort, DuplicatesMode::Ignore, {"d", "c", "B", "a"}, 2, 1},
    };
    for (const auto& row : table) {
        TMRUStringList list;
        list.Order = row.order;
        list.Duplicates = row.duplicates;
        Fill(list, {"c", "a", "B"});
        list.SetSorted(true); // sorts what is there first
        list.Add("d");
        EXPECT_EQ(row.addIndex, list.Add("b")) << row.order;
        EXPECT_EQ(row.expected, Entries(list)) << row.order;
        EXPECT_EQ(row.indexOfC, list.IndexOf("C")) << row.order;
        EXPECT_EQ(-1, list.IndexOf("bb")) << row.order;
    }
}

TEST(MRUSorted, MaxStringsFollowsTheStorageCapacity) {
    // After the n-th distinct string, MaxStrings reads as the capacity.
    const struct { int added; int capacity; } table[] = {
        {1, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 12}, {13, 28}, {29, 44}, {61, 76}, {77, 95}, {96, 118},
    };
    TMRUStringList list;
    list.Order = OrderSort;
    list.SetSorted(true);
    int added = 0;
    for (const auto& row : table) {
        while (added < row.added) {
            char name[16];
            std::snprintf(name, sizeof name, "s%03d", added++);
            list.Add(name);
        }
        EXPECT_EQ(row.added, list.Count());
        EXPECT_EQ(row.capacity, list.MaxStrings()) << row.added;
    }
    // Deleting keeps the slots; Clear releases them.
    for (int i = 0; i < 90; ++i) list.Delete(0);
    list.Add("zzz");
    EXPECT_EQ(118, list.MaxStrings());
    list.Clear();
    list.Add("a");
    EXPECT_EQ(4, list.MaxStrings());
}

TEST(MRUFind, SearchesInTheDirectionOfOrder) {
    const struct {
        ListOrder order; DuplicatesMode duplicates; Strings entries; const char* s; bool found; int index;
    } table[] = {
        {OrderRevSort, DuplicatesMode::Ignore, {"d", "c", "a"}, "C", true, 1},
        {OrderRevSort, DuplicatesMode::Ignore, {"d", "c", "a"}, "b", false, 2},
        {OrderRevSort, DuplicatesMode::Ignore, {"d", "c", "a"}, "e", false, 0},
        {OrderSort, DuplicatesMode::Ignore, {"a", "c", "d"}, "C", true, 1},
        {OrderSort, DuplicatesMode::Ignore, {"a", "c", "d"}, "b", false, 1},
        {OrderSort, DuplicatesMode::Ignore, {"a", "c", "d"}, "z", false, 3},
        {OrderMRU, DuplicatesMode::Ignore, {"a", "c", "d"}, "d", true, 2},
        {OrderSort, DuplicatesMode::Ignore, {}, "a", false, 0},
        {OrderSort, DuplicatesMode::Accept, {"a", "b", "b", "b", "b", "c"}, "B", true, 1},
        {OrderRevSort, DuplicatesMode::Accept, {"c", "b", "b", "b", "a"}, "b", true, 1},
    };
    for (const auto& row : table) {
        TMRUStringList list;
        for (std::size_t i = 0; i < row.entries.size(); ++i)
            list.Insert(static_cast<int>(i), row.entries[i]);
        list.Order = row.order;
        list.Duplicates = row.duplicates;
        int index = -7;
        EXPECT_EQ(row.found, list.Find(row.s, index)) << row.s;
        EXPECT_EQ(row.index, index) << row.s;
    }
}

TEST(MRUSort, OrdersByTheListComparisonAndNotifiesOnlyWhenItRuns) {
    std::mt19937 random(7);
    for (ListOrder order : {OrderSort, OrderRevSort}) {
        TMRUStringList list;
        Strings inserted;
        for (int i = 0; i < 300; ++i) {
            std::string s;
            for (int n = random() % 4; n >= 0; --n) s += "aBcD"[random() % 4];
            list.Insert(list.Count(), s);
            inserted.push_back(s);
        }
        list.Order = order;
        list.Dirty = false;
        list.Sort();
        EXPECT_TRUE(list.Dirty);
        const int direction = order == OrderSort ? 1 : -1;
        for (int i = 1; i < list.Count(); ++i)
            ASSERT_LE(direction * platform::CompareText(list.Get(i - 1), list.Get(i)), 0) << i;
        Strings sorted = Entries(list);
        std::sort(sorted.begin(), sorted.end());
        std::sort(inserted.begin(), inserted.end());
        EXPECT_EQ(inserted, sorted) << "a sort only permutes";
    }

    TMRUStringList mru;
    Fill(mru, {"b", "a"});
    mru.Sort();
    TMRUStringList one;
    Fill(one, {"x"});
    one.Order = OrderSort;
    one.Sort();
    EXPECT_EQ((Strings{"b", "a"}), Entries(mru));
    EXPECT_FALSE(mru.Dirty);
    EXPECT_FALSE(one.Dirty);
}

TEST(MRUAssign, AddsEachSourceStringThroughAdd) {
    TMRUStringList source;
    Fill(source, {"a", "b", "c"});
    TMRUStringList list;
    list.Add("old");
    list.Assign(source);
    EXPECT_EQ((Strings{"c", "b", "a"}), Entries(list));
    EXPECT_TRUE(list.Dirty);
    TMRUStringList again;
    again.Assign(list);
    EXPECT_EQ((Strings{"a", "b", "c"}), Entries(again));

    // Equal strings become one entry with the later spelling; the limit keeps
    // the last MaxStrings - 1.
    TMRUStringList mixed;
    for (const char* s : {"x", "a", "y", "A", "z"}) mixed.Insert(mixed.Count(), s);
    TMRUStringList small;
    small.SetMaxStrings(4);
    small.Assign(mixed);
    EXPECT_EQ((Strings{"z", "A", "y"}), Entries(small));

    TMRUStringList empty;
    list.Dirty = false;
    list.Assign(empty);
    EXPECT_EQ(0, list.Count());
    EXPECT_TRUE(list.Dirty) << "a bulk operation notifies even when nothing changed";

    source.Assign(source);
    EXPECT_EQ((Strings{"c", "b", "a"}), Entries(source));
}

TEST(MRUClear, NotifiesOnlyWhenTheListHadEntries) {
    TMRUStringList list;
    list.Clear();
    EXPECT_FALSE(list.Dirty);
    Fill(list, {"a"});
    list.Clear();
    EXPECT_TRUE(list.Dirty);
    EXPECT_EQ(0, list.Count());
}

// Random operations against a small model of the unsorted list, with
// strings that often compare equal in another letter case.
TEST(MRUModel, RandomOperationsMatchTheModel) {
    struct Model {
        Strings items;
        int max = 16;
        static bool Same(const std::string& a, const std::string& b) {
            return a.size() == b.size() &&
                   std::equal(a.begin(), a.end(), b.begin(),
                              [](char x, char y) { return std::tolower(x) == std::tolower(y); });
        }
        bool Add(const std::string& s) {
            auto it = std::find_if(items.begin(), items.end(), [&](auto& e) { return Same(e, s); });
            if (it == items.begin() && it != items.end()) return false;
            const bool known = it != items.end();
            if (known) items.erase(it);
            items.insert(items.begin(), s);
            if (!known && static_cast<int>(items.size()) >= max) items.pop_back();
            return true;
        }
        bool SetMax(int v) {
            if (v < 1) return false;
            bool changed = static_cast<int>(items.size()) > v;
            if (changed) items.resize(v);
            max = v;
            return changed;
        }
    };

    std::mt19937 random(20240611);
    const Strings pool = {"alpha", "ALPHA", "Beta", "beta", "c", "C", "d", "e", "f", "g", "", "hh"};
    for (int run = 0; run < 20; ++run) {
        TMRUStringList list;
        Model model;
        for (int step = 0; step < 400; ++step) {
            list.Dirty = false;
            bool changed = false;
            const int op = random() % 10;
            if (op < 6) {
                const std::string& s = pool[random() % pool.size()];
                changed = model.Add(s);
                EXPECT_EQ(0, list.Add(s));
            } else if (op == 6 && !model.items.empty()) {
                const int i = random() % model.items.size();
                model.items.erase(model.items.begin() + i);
                list.Delete(i);
                changed = true;
            } else if (op == 7) {
                const int v = static_cast<int>(random() % 10) - 1;
                changed = model.SetMax(v);
                list.SetMaxStrings(v);
            } else if (op == 8) {
                const int i = random() % (model.items.size() + 1);
                model.items.insert(model.items.begin() + i, pool[random() % pool.size()]);
                list.Insert(i, model.items[i]);
                changed = true;
            } else if (op == 9 && random() % 8 == 0) {
                changed = !model.items.empty();
                model.items.clear();
                list.Clear();
            }
            ASSERT_EQ(model.items, Entries(list)) << "run " << run << " step " << step;
            ASSERT_EQ(model.max, list.MaxStrings());
            ASSERT_EQ(changed, list.Dirty) << "run " << run << " step " << step << " op " << op;
        }
    }
}
