// Random sequences of list operations, checked after every step against a
// small reference model written from the list's documented behaviour.
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "folders/MRUStringList.h"
#include "platform/Errors.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

int Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

int Cmp(const std::string& a, const std::string& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) < Fold(b[i]) ? -1 : 1;
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

struct Model {
    std::vector<std::string> items;
    int max = 16;
    int capacity = 0;
    bool sorted = false;
    DuplicatesMode duplicates = DuplicatesMode::Ignore;
    ListOrder order = OrderMRU;
    bool dirty = false;
    std::string error; // message the last step must have raised, "" for none

    int Direction(const std::string& a, const std::string& b) const {
        return order == OrderRevSort ? -Cmp(a, b) : Cmp(a, b);
    }
    bool Ordered() const {
        for (size_t i = 1; i < items.size(); ++i)
            if (Direction(items[i - 1], items[i]) > 0) return false;
        return true;
    }
    int LowerBound(const std::string& s) const {
        int n = 0;
        for (const auto& item : items) n += Direction(item, s) < 0;
        return n;
    }
    bool Contains(const std::string& s) const {
        return std::any_of(items.begin(), items.end(), [&](const std::string& i) { return Cmp(i, s) == 0; });
    }
    void InsertAt(int index, const std::string& s) {
        if (static_cast<int>(items.size()) == capacity) capacity += capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
        items.insert(items.begin() + index, s);
        dirty = true;
    }
    void EraseAt(int index) {
        items.erase(items.begin() + index);
        dirty = true;
    }
    void SetMax(int v) {
        if (v < 1) return;
        while (static_cast<int>(items.size()) > v) EraseAt(static_cast<int>(items.size()) - 1);
        max = v;
    }
    void Clear() {
        if (items.empty()) return;
        items.clear();
        capacity = 0;
        dirty = true;
    }
    std::string OutOfBounds(int index) { return Format("List index out of bounds (%d)", index); }
};

struct Checker {
    TMRUStringList list;
    Model model;

    void Same() {
        FUZZ_CHECK(list.Count() == static_cast<int>(model.items.size()));
        for (int i = 0; i < list.Count(); ++i) FUZZ_CHECK(list.Get(i) == model.items[i]);
        FUZZ_CHECK(list.MaxStrings() == model.max);
        FUZZ_CHECK(list.Dirty == model.dirty);
        FUZZ_CHECK(list.Sorted() == model.sorted);
        FUZZ_CHECK(!list.Loading);
    }

    // Runs one step; the error it raised must be the one the model expects.
    template <typename Step>
    void Expect(Step step) {
        std::string raised;
        try {
            step();
        } catch (const ListError& error) {
            raised = error.Message();
        }
        FUZZ_CHECK(raised == model.error);
        model.error.clear();
    }

    void Add(const std::string& s) {
        if (!model.sorted) {
            ModelAdd(s);
            int result = -1;
            Expect([&] { result = list.Add(s); });
            FUZZ_CHECK(result == 0);
            return;
        }
        if (!model.Ordered()) {
            // A binary search over unordered entries may land anywhere: check
            // only that the result is one the operation can give, and adopt it.
            std::vector<std::string> before = model.items;
            int result = -1;
            try {
                result = list.Add(s);
            } catch (const ListError& error) {
                FUZZ_CHECK(error.Message() == "String list does not allow duplicates");
                FUZZ_CHECK(model.Contains(s));
                FUZZ_CHECK(list.Count() == static_cast<int>(before.size()));
                return;
            }
            FUZZ_CHECK(result >= 0 && result < list.Count());
            if (list.Count() == static_cast<int>(before.size())) {
                FUZZ_CHECK(Cmp(list.Get(result), s) == 0);
            } else {
                model.InsertAt(result, s);
            }
            model.SetMax(model.capacity);
            Same();
            return;
        }
        const bool found = model.Contains(s);
        int expected = model.LowerBound(s);
        if (found && model.duplicates == DuplicatesMode::Reject) {
            model.error = "String list does not allow duplicates";
            Expect([&] { list.Add(s); });
            return;
        }
        int result = -1;
        if (found && model.duplicates == DuplicatesMode::Ignore) {
            model.SetMax(model.capacity);
            Expect([&] { result = list.Add(s); });
            FUZZ_CHECK(result >= 0 && result < list.Count() && Cmp(list.Get(result), s) == 0);
            return;
        }
        model.InsertAt(expected, s);
        model.SetMax(model.capacity);
        Expect([&] { result = list.Add(s); });
        FUZZ_CHECK(result == expected);
    }

    void Step(FuzzInput& in) {
        const int count = static_cast<int>(model.items.size());
        switch (in.Int(0, 14)) {
        case 0: case 1: case 2:
            Add(in.Word());
            break;
        case 3: {
            int index = in.Int(-1, count + 1);
            std::string s = in.Word();
            if (model.sorted) model.error = "Operation not allowed on sorted string list";
            else if (index > count || index < 0) model.error = model.OutOfBounds(index);
            else model.InsertAt(index, s);
            Expect([&] { list.Insert(index, s); });
            break;
        }
        case 4: {
            int index = in.Int(-1, count);
            if (index < 0 || index >= count) model.error = model.OutOfBounds(index);
            else model.EraseAt(index);
            Expect([&] { list.Delete(index); });
            break;
        }
        case 5:
            model.Clear();
            list.Clear();
            break;
        case 6: {
            int v = in.Int(-2, 30);
            model.SetMax(v);
            list.SetMaxStrings(v);
            break;
        }
        case 7:
            if (!model.sorted && model.order != OrderMRU && count >= 2) {
                list.Sort();
                std::vector<std::string> after;
                for (int i = 0; i < list.Count(); ++i) after.push_back(list.Get(i));
                FUZZ_CHECK(std::is_permutation(after.begin(), after.end(), model.items.begin(), model.items.end()));
                model.items = after;
                FUZZ_CHECK(model.Ordered());
                model.dirty = true;
            } else {
                list.Sort();
            }
            break;
        case 8: {
            bool on = in.Byte() & 1;
            if (on && !model.sorted) {
                if (model.order != OrderMRU && count >= 2) {
                    list.SetSorted(true);
                    std::vector<std::string> after;
                    for (int i = 0; i < list.Count(); ++i) after.push_back(list.Get(i));
                    FUZZ_CHECK(std::is_permutation(after.begin(), after.end(), model.items.begin(), model.items.end()));
                    model.items = after;
                    model.dirty = true;
                    model.sorted = true;
                    FUZZ_CHECK(model.Ordered());
                    break;
                }
            }
            model.sorted = on;
            list.SetSorted(on);
            break;
        }
        case 9: {
            DuplicatesMode mode = static_cast<DuplicatesMode>(in.Int(0, 2));
            model.duplicates = mode;
            list.Duplicates = mode;
            break;
        }
        case 10: {
            ListOrder order = static_cast<ListOrder>(in.Int(0, 2));
            model.order = order;
            list.Order = order;
            break;
        }
        case 11: {
            std::string s = in.Word();
            int index = -1;
            bool found = list.Find(s, index);
            if (model.Ordered()) {
                FUZZ_CHECK(found == model.Contains(s));
                if (!found || model.duplicates == DuplicatesMode::Accept) FUZZ_CHECK(index == model.LowerBound(s));
                else FUZZ_CHECK(index >= 0 && index < count && Cmp(list.Get(index), s) == 0);
            }
            int at = list.IndexOf(s);
            if (!model.sorted) {
                int first = -1;
                for (int i = 0; i < count && first < 0; ++i)
                    if (Cmp(model.items[i], s) == 0) first = i;
                FUZZ_CHECK(at == first);
            } else if (model.Ordered()) {
                FUZZ_CHECK(at == (found ? index : -1));
            }
            break;
        }
        case 12: {
            TMRUStringList source;
            std::vector<std::string> words;
            for (int n = in.Int(0, 20); n > 0; --n) words.push_back(in.Word());
            for (size_t i = 0; i < words.size(); ++i) source.Insert(static_cast<int>(i), words[i]);
            // Assign is Clear, then this list's own Add for every source
            // entry, inside one bulk operation.
            Model expected = model;
            expected.Clear();
            Checker shadow;
            std::swap(shadow.model, expected);
            std::string raised;
            for (const auto& w : words) {
                if (shadow.model.sorted && shadow.model.duplicates == DuplicatesMode::Reject &&
                    shadow.model.Contains(w)) {
                    raised = "String list does not allow duplicates";
                    break;
                }
                shadow.ModelAdd(w);
            }
            shadow.model.dirty = true;
            model = shadow.model;
            model.error = raised;
            Expect([&] { list.Assign(source); });
            break;
        }
        case 13: {
            int index = in.Int(-1, count);
            std::string raised;
            try {
                (void)list.Get(index);
            } catch (const ListError& error) {
                raised = error.Message();
            }
            FUZZ_CHECK(raised == (index < 0 || index >= count ? model.OutOfBounds(index) : std::string()));
            break;
        }
        case 14:
            model.dirty = false;
            list.Dirty = false;
            break;
        }
        Same();
    }

    // The model's half of Add, for Assign's expectation (ordered lists only:
    // Assign starts from an empty list, which stays ordered under sorted Add).
    void ModelAdd(const std::string& s) {
        if (!model.sorted) {
            int found = -1;
            for (size_t i = 0; i < model.items.size() && found < 0; ++i)
                if (Cmp(model.items[i], s) == 0) found = static_cast<int>(i);
            if (found < 0) {
                model.InsertAt(0, s);
                if (static_cast<int>(model.items.size()) >= model.max)
                    model.EraseAt(static_cast<int>(model.items.size()) - 1);
            } else if (found > 0) {
                model.EraseAt(found);
                model.InsertAt(0, s);
            }
            return;
        }
        const bool found = model.Contains(s);
        if (!(found && model.duplicates == DuplicatesMode::Ignore)) model.InsertAt(model.LowerBound(s), s);
        model.SetMax(model.capacity);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Checker checker;
    checker.Same();
    for (int steps = 0; steps < 200 && !in.Empty(); ++steps) checker.Step(in);
    return 0;
}
