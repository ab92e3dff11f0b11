# Run by CPack on the staged tree just before the .deb is made: what a Debian package has
# that a plain install does not. Manual pages are compressed, and the package gets its
# changelog. The date follows SOURCE_DATE_EPOCH when set, so that a rebuild is identical.
file(GLOB_RECURSE manual_pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man1/*.1")
foreach(page IN LISTS manual_pages)
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(GLOB doc_folder LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/zembrat")
if(NOT doc_folder)
    message(FATAL_ERROR "no share/doc/zembrat under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
string(TIMESTAMP changed "%a, %d %b %Y %H:%M:%S +0000" UTC)
# The version has no Debian revision: the package is native, so its changelog is changelog.gz.
file(WRITE "${doc_folder}/changelog"
"zembrat (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Built from the Zembrat source tree with make deb.

 -- ${CPACK_PACKAGE_CONTACT}  ${changed}
")
execute_process(COMMAND gzip -9nf "${doc_folder}/changelog" COMMAND_ERROR_IS_FATAL ANY)
