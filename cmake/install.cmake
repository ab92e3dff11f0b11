# The installed tree:
#   bin/zembrat, bin/zembrat-cli                      the programs
#   lib/zembrat/libunlha32.so, libzembrat_platform.so the libraries they load
#   lib/zembrat/libunzip32.so, libzip32j.so, liblmzip32.so  the ZIP libraries
#   lib/zembrat/libtar32.so                           the tar-family library
#   lib/zembrat/libcab32.so, libunrar32.so, libunarj32j.so, libbga32.so  CAB, RAR, ARJ, BGA
#   lib/zembrat/zembrat-archive-host                  the helper the ZIP, tar, CAB and RAR libraries read with
#   lib/zembrat/zembrat-sfx                           the self-extracting stub for LHA
#   lib/zembrat/sfx32gui.dat, sfx16.dat               the self-extracting stub for ZIP
#   lib/zembrat/kmtarsef.exe, zembrat-cabsfx, zembrat-bga-sfx  the stubs for tar, CAB and BGA
#   lib/zembrat/kmtarsef.exe                          the self-extracting stub for tar and tar.gz
#   share/applications, share/icons, share/man/man1, share/doc/zembrat
# The platform layer looks for an archiver library (and for the stub) in the program's own
# folder first and then in its ../lib/zembrat/, so the tree works wherever it is put: the
# programs find their libraries through a run path relative to themselves, and the
# libraries find the platform library beside them. No LD_LIBRARY_PATH is needed.
set(ZEMBRAT_INSTALL_PRIVATE_DIR lib/zembrat)

set(zembrat_programs)
foreach(program zembrat zembrat-cli)
    if(TARGET ${program})
        list(APPEND zembrat_programs ${program})
    endif()
endforeach()
set_target_properties(${zembrat_programs} PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${ZEMBRAT_INSTALL_PRIVATE_DIR}")
install(TARGETS ${zembrat_programs} RUNTIME DESTINATION bin)

set(zembrat_libraries zembrat_platform unlha32 unzip32 zip32j lmzip32 tar32 cab32 unrar32 unarj32j
    bga32 zembrat-archive-host)
set_target_properties(${zembrat_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${zembrat_libraries}
    LIBRARY DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR}
    RUNTIME DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR})
# The stub carries its own copy of everything it uses: no run path at all. It is linked
# stripped (every self-extracting file carries it); it is stripped again on installing, so
# that the installed copy stays so whatever a packager's flags did to the build.
install(TARGETS zembrat-sfx RUNTIME DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR})
install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-all
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ZEMBRAT_INSTALL_PRIVATE_DIR}/zembrat-sfx\"
    COMMAND_ERROR_IS_FATAL ANY)")
# One ZIP stub under the two names the ZIP driver searches for.
foreach(stub sfx32gui.dat sfx16.dat)
    install(PROGRAMS $<TARGET_FILE:zembrat-zipsfx> DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR}
            RENAME ${stub})
endforeach()

# The CAB and BGA libraries make their self-extracting files with their own stubs.
install(TARGETS zembrat-cabsfx zembrat-bga-sfx RUNTIME DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR})

# The tar stub under the name the TAR driver searches for.
install(PROGRAMS $<TARGET_FILE:zembrat-tarsfx> DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR}
        RENAME kmtarsef.exe)

set(zembrat_share ${CMAKE_CURRENT_LIST_DIR}/../share)
install(FILES ${zembrat_share}/applications/zembrat.desktop DESTINATION share/applications)
install(FILES ${zembrat_share}/icons/zembrat.svg
    DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${zembrat_share}/man/zembrat.1 ${zembrat_share}/man/zembrat-cli.1
    DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../README.md
              ${CMAKE_CURRENT_LIST_DIR}/../docs/cli.md
              ${CMAKE_CURRENT_LIST_DIR}/../docs/architecture.md
    DESTINATION share/doc/zembrat)
