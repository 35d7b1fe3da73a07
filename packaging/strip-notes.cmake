# Run by CPack on the staged files: besides the symbols (CPACK_STRIP_FILES),
# Debian's packages drop the compiler's .comment and the .note section from
# their programs, as dh_strip does.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return() # the source tarball holds no programs
endif()
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
    message(FATAL_ERROR "no programs staged in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
execute_process(COMMAND ${CPACK_QUILLMARSH_STRIP} --remove-section=.comment --remove-section=.note ${programs}
                COMMAND_ERROR_IS_FATAL ANY)
