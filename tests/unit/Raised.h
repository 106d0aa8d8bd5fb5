// The message of the error an operation raises, or "<no error>".
#pragma once

#include "platform/Errors.h"

#include <functional>
#include <string>

template <typename Raised = Error>
std::string MessageRaisedBy(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const Raised& error) {
        return error.what();
    }
    return "<no error>";
}
