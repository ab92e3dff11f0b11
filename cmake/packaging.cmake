# What the installed tree gains for a desktop (archive types, the file managers' actions,
# AppStream metadata, the licences) and the Debian package made from that tree with CPack.
#
#   share/mime/packages/zembrat.xml                  GZA and BZA, by name and by content
#   share/metainfo/org.zembrat.Zembrat.metainfo.xml  AppStream
#   lib/zembrat/zembrat-file-action                  what every file manager's action runs
#   share/kio/servicemenus/                          Dolphin
#   share/nemo/actions/                              Nemo
#   share/Thunar/sendto/                             Thunar (its "Send To" menu)
#   share/doc/zembrat/copyright                      Zembrat's and the linked libraries' licences
# Nautilus has no system-wide place: zembrat-cli --install-file-manager-actions writes the
# current user's scripts.

set(ZEMBRAT_HOMEPAGE "https://zembrat.example.org/"
    CACHE STRING "The project's public page (AppStream; screenshots are under screenshots/ there)")

set(zembrat_share ${CMAKE_CURRENT_LIST_DIR}/../share)
set(zembrat_menus ${zembrat_share}/file-manager)

# The build tree works as the installed one does: the action script beside the programs.
configure_file(${zembrat_menus}/zembrat-file-action ${CMAKE_BINARY_DIR}/bin/zembrat-file-action
               COPYONLY)

install(FILES ${zembrat_share}/mime/packages/zembrat.xml DESTINATION share/mime/packages)

set(ZEMBRAT_SCREENSHOTS_URL "${ZEMBRAT_HOMEPAGE}screenshots/")
configure_file(${zembrat_share}/metainfo/org.zembrat.Zembrat.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/share/org.zembrat.Zembrat.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/share/org.zembrat.Zembrat.metainfo.xml
        DESTINATION share/metainfo)

install(PROGRAMS ${zembrat_menus}/zembrat-file-action DESTINATION ${ZEMBRAT_INSTALL_PRIVATE_DIR})

# The menus name the action script by its full path, which is known only once the prefix is:
# `cmake --install --prefix` may choose another than the one configured.
install(CODE "
    set(ZEMBRAT_FILE_ACTION \"\${CMAKE_INSTALL_PREFIX}/${ZEMBRAT_INSTALL_PRIVATE_DIR}/zembrat-file-action\")
    foreach(menu
            \"dolphin/zembrat-compress.desktop.in;share/kio/servicemenus\"
            \"dolphin/zembrat-extract.desktop.in;share/kio/servicemenus\"
            \"nemo/zembrat-compress.nemo_action.in;share/nemo/actions\"
            \"nemo/zembrat-extract.nemo_action.in;share/nemo/actions\"
            \"thunar/zembrat-compress.desktop.in;share/Thunar/sendto\"
            \"thunar/zembrat-extract.desktop.in;share/Thunar/sendto\")
        list(GET menu 0 template)
        list(GET menu 1 folder)
        get_filename_component(name \"\${template}\" NAME_WLE)
        set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${folder}/\${name}\")
        message(STATUS \"Installing: \${target}\")
        configure_file(\"${zembrat_menus}/\${template}\" \"\${target}\" @ONLY)
    endforeach()
")

install(FILES ${zembrat_share}/doc/copyright DESTINATION share/doc/zembrat)
# The self-extracting stubs carry their decoders on purpose; the file says why.
install(FILES ${zembrat_share}/lintian/zembrat DESTINATION share/lintian/overrides)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zembrat)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zembrat maintainers <maintainers@users.noreply.c-seed-133684a5.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch archiver: one archive per file, archives unpacked one by one")
set(CPACK_PACKAGE_DESCRIPTION
    "Zembrat compresses every chosen file into an archive of its own (LHA, or a\n"
    "self-extracting program), or unpacks a batch of archives one after the other.\n"
    "It reads LHA, ZIP, tar, tar.gz, tar.bz2, CAB, ARJ, RAR, GZA and BZA archives.\n"
    "It comes as a small Japanese window and as a command line, zembrat-cli, and\n"
    "adds its two actions to the context menus of Dolphin, Nemo, Thunar and\n"
    "Nautilus.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies are read from the linked libraries; our own libraries in
# lib/zembrat/ are found there, not looked for in the system.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window works without these, but its dialogs then speak English and its Japanese text
# falls back to whatever font the system has.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity | kdialog, libnotify-bin")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_tree.cmake)
include(CPack)
