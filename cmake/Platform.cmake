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

# Builds `target` from its own copies of the sources of `FROM` targets (and its own `SOURCES`), with the
# project's compile options minus the sanitizer flags and none of the project-wide link options: for a
# library that a program outside the build loads (an LV2 host), which cannot load one instrumented with
# AddressSanitizer.
function(mp_build_from_plain_copies target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;FROM")
    get_target_property(plain_options mp_platform_options INTERFACE_COMPILE_OPTIONS)
    list(REMOVE_ITEM plain_options ${MP_SANITIZER_FLAGS})
    set(plain_sources ${arg_SOURCES})
    foreach(from ${arg_FROM})
        get_target_property(sources ${from} SOURCES)
        get_target_property(dir ${from} SOURCE_DIR)
        foreach(source ${sources})
            if(NOT IS_ABSOLUTE ${source})
                set(source ${dir}/${source})
            endif()
            list(APPEND plain_sources ${source})
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES plain_sources)
    target_sources(${target} PRIVATE ${plain_sources})
    set_target_properties(${target} PROPERTIES LINK_LIBRARIES "")
    target_compile_options(${target} PRIVATE ${plain_options})
endfunction()
