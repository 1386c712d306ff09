// GNU toolchains: the program is linked with --wrap=__cxa_throw, so every throw expression of the
// program's own objects (the evaluator's included) calls this first; it counts and hands on to the
// runtime, which then allocates the exception object as usual.
#include "throw_counter.h"

namespace {
long throws = 0;
}

extern "C" {
[[noreturn]] void __real___cxa_throw(void* object, void* type, void (*destroy)(void*));

[[noreturn]] void __wrap___cxa_throw(void* object, void* type, void (*destroy)(void*)) {
    ++throws;
    __real___cxa_throw(object, type, destroy);
}
}

long throwcount::thrown() {
    return throws;
}
