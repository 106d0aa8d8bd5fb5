// Small helpers shared by the list's tests.
#pragma once

#include "folders/MRUStringList.h"
#include "platform/Errors.h"

#include <functional>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

// The entries, index 0 first.
inline Strings Entries(const TMRUStringList& list) {
    Strings out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
    return out;
}

// The message of the error an operation raises, or "<no error>".
template <typename Raised = Error>
std::string MessageRaisedBy(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const Raised& error) {
        return error.what();
    }
    return "<no error>";
}
