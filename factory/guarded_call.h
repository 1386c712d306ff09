// The edge of every operation table the library implements. A host written in C cannot catch a C++
// exception: one that unwinds through a table entry ends the host's process. So every table entry runs
// its work through guardedCall, which turns any exception into a failure result at the entry itself.
// On the success path it costs nothing but the call: with table-based unwinding a try block adds no
// instructions, and the operation is inlined into the entry.
#pragma once

#include <cstdint>

#include "factory/result_codes.h"

namespace gmpi {

// Runs operation() and returns its result, or onFailure when it throws anything.
template <class Operation, class Result = int32_t>
Result guardedCall(Operation&& operation, Result onFailure = kResultFailed) noexcept {
    try {
        return operation();
    } catch (...) {
        return onFailure;
    }
}

} // namespace gmpi
