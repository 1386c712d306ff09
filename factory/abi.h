// The binary boundary between the host and this library: calling convention and export decoration.
// This is the only header that knows about them.
#pragma once

// Every interface operation uses this convention. On 32-bit Windows it is stdcall, so the object
// pointer travels as the first stack argument, as a host written in C expects.
#if defined(_WIN32) && !defined(_WIN64)
#define MP_CALL __stdcall
#else
#define MP_CALL
#endif

// Marks the one exported entry point. On Windows the .def file alone names the exports, so that the
// library exports exactly the plain and the stdcall-decorated name.
#if defined(_WIN32)
#define MP_EXPORT extern "C"
#else
#define MP_EXPORT extern "C" __attribute__((visibility("default")))
#endif
