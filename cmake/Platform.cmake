# Compiler options that every target of the project shares, and the system libraries per platform.
add_library(mp_platform_options INTERFACE)
add_library(mp_platform_libs INTERFACE)

if(MSVC)
    target_compile_options(mp_platform_options INTERFACE /W4 /utf-8)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_compile_options(mp_platform_options INTERFACE /arch:SSE2)
    endif()
else()
    target_compile_options(mp_platform_options INTERFACE -Wall -Wextra)
    # True single precision on 32-bit x86: SSE2 arithmetic, never the x87 extended registers.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_compile_options(mp_platform_options INTERFACE -msse2 -mfpmath=sse)
    endif()
    # The float steps are specified one by one: no contraction into fused multiply-adds.
    target_compile_options(mp_platform_options INTERFACE -ffp-contract=off)
endif()

if(WAVESHAPERS_WERROR)
    if(MSVC)
        target_compile_options(mp_platform_options INTERFACE /WX)
    else()
        target_compile_options(mp_platform_options INTERFACE -Werror)
    endif()
endif()

if(WIN32)
    target_link_libraries(mp_platform_libs INTERFACE user32 gdi32)
    if(MINGW)
        # One self-contained file: no libstdc++, libgcc or winpthread DLL beside it.
        target_link_options(mp_platform_options INTERFACE -static -static-libgcc -static-libstdc++)
    endif()
endif()

if(MP_SANITIZE)
    set(MP_SANITIZER_FLAGS -fsanitize=address,undefined -fsanitize=float-cast-overflow
                           -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(mp_platform_options INTERFACE ${MP_SANITIZER_FLAGS})
    target_link_options(mp_platform_options INTERFACE ${MP_SANITIZER_FLAGS})
endif()

# Every target links the options (for the sanitizer runtime and static runtime flags).
link_libraries(mp_platform_options)
