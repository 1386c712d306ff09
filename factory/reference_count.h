// The release step every reference-counted object of the library shares.
#pragma once

#include <cstdint>

// Counts one reference of object down and deletes it (through T's destructor, virtual where T is a
// base) when none is left. Returns the references left: 0 once the object is gone.
template <class T> int32_t releaseReference(T* object, int32_t& count) {
    if (--count == 0) {
        delete object;
        return 0;
    }
    return count;
}
