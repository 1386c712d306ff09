# What `cmake --install` puts where (scripts/package builds the release packages from it).
#
# Windows: one flat folder, the one a host loads modules from: waveshapers.dll, waveshapers.json and
# shaperhost.exe side by side (shaperhost finds the library beside itself), with the licence and the
# third-party notices.
#
# Elsewhere: the library, its description file and shaperhost together in a private folder,
# <libdir>/waveshapers, since shaperhost loads the library from beside its own real path; <bindir> has a
# relative link to the program, so the tree works wherever it is unpacked. The licence and the notices
# go to the documentation folder.
#
# Component "runtime" holds all of it; other parts of the build (the LV2 bundle, the manual page, shell
# completion) add their own rules, and a plain `cmake --install` installs every component.
include(GNUInstallDirs)

if(WIN32)
    set(MP_INSTALL_DIR .)
    set(MP_INSTALL_DOC_DIR .)
else()
    set(MP_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/waveshapers)
    set(MP_INSTALL_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()

# A module library is loaded, never linked against: no executable bit on Linux.
install(TARGETS waveshapers
        RUNTIME DESTINATION ${MP_INSTALL_DIR} COMPONENT runtime
        LIBRARY DESTINATION ${MP_INSTALL_DIR} COMPONENT runtime
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_BINARY_DIR}/bin/waveshapers.json DESTINATION ${MP_INSTALL_DIR} COMPONENT runtime)

if(TARGET shaperhost)
    install(TARGETS shaperhost RUNTIME DESTINATION ${MP_INSTALL_DIR} COMPONENT runtime)
    if(NOT WIN32)
        # The link's target relative to the link, so the tree can be unpacked anywhere; the prefix is
        # the one given at install time.
        file(RELATIVE_PATH _mp_program_link "/${CMAKE_INSTALL_BINDIR}" "/${MP_INSTALL_DIR}/shaperhost")
        install(CODE "
            set(_bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
            file(MAKE_DIRECTORY \"\${_bindir}\")
            message(STATUS \"Installing: \${_bindir}/shaperhost -> ${_mp_program_link}\")
            file(CREATE_LINK \"${_mp_program_link}\" \"\${_bindir}/shaperhost\" SYMBOLIC)"
                COMPONENT runtime)
    endif()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY.md DESTINATION ${MP_INSTALL_DOC_DIR}
        COMPONENT runtime)
